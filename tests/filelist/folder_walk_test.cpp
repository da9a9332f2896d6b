#include "FolderWalk.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

namespace {

class FolderWalkTest : public ::testing::Test {
protected:
    std::string make(const std::string& relative, bool folder = false) {
        std::string path = dir_.path("t/" + relative);
        QDir().mkpath(QString::fromStdString(folder ? path : path.substr(0, path.rfind('/'))));
        if (!folder)
            gqtest::WriteFile(path, "x");
        return path;
    }
    std::string root() { return dir_.path("t"); }

    gqtest::TempDir dir_;
};

TEST_F(FolderWalkTest, WalksLevelByLevelInCaseInsensitiveOrder) {
    for (const char* folder : {"beta/inner", "Alpha/x/y", "gamma", ".hidden"})
        make(folder, true);
    std::vector<std::string> folders{root() + "/"};
    gq::FolderWalk().GetSubDirectories2016(folders, true);
    std::string r = root() + "/";
    EXPECT_EQ(folders,
              (std::vector<std::string>{r, r + ".hidden/", r + "Alpha/", r + "beta/", r + "gamma/",
                                        r + "Alpha/x/", r + "beta/inner/", r + "Alpha/x/y/"}));
    folders = {r};
    gq::FolderWalk().GetSubDirectories2016(folders, false);
    EXPECT_EQ(folders.size(), 5u);
}

TEST_F(FolderWalkTest, AddsWorkbooksAsTheFolderScanDoes) {
    std::string book = make("book.xlsx");
    make("~$book.xlsx");
    make("notes.txt");
    std::string hiddenReadOnly = make(".ro.xlsx");
    QFile::setPermissions(QString::fromStdString(hiddenReadOnly), QFile::ReadOwner);
    make(".hidden-writable.xlsx");
    std::string nested = make("sub/Deep.XLSM");
    gq::FolderWalk walk;
    EXPECT_EQ(walk.FilesInTree(root(), "*.xl*"),
              (std::vector<std::string>{hiddenReadOnly, book, nested}));
    EXPECT_EQ(gq::FolderWalk().FilesInTree(root() + "//", "*.*"),
              (std::vector<std::string>{hiddenReadOnly, book, root() + "/notes.txt", nested}));
}

TEST_F(FolderWalkTest, EntersALinkLoopOnce) {
    make("a/b", true);
    std::string book = make("a/b/book.xlsx");
    std::string upper = make("a/upper.xlsx");
    ASSERT_EQ(::symlink("..", (root() + "/a/b/up").c_str()), 0);
    // The loop leads back to a: its files come once, under their own folder.
    auto files = gq::FolderWalk().FilesInTree(root(), "*.xlsx");
    EXPECT_EQ(files, (std::vector<std::string>{upper, book}));
}

TEST_F(FolderWalkTest, LeavesOutAFolderItCannotReadAndScansTheRest) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder, so access cannot be denied here";
    std::string book = make("book.xlsx");
    std::string locked = make("locked", true);
    make("locked/inside.xlsx");
    QFile::setPermissions(QString::fromStdString(locked), QFileDevice::Permissions());
    auto files = gq::FolderWalk().FilesInTree(root(), "*.xlsx");
    QFile::setPermissions(QString::fromStdString(locked),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(files, std::vector<std::string>{book});
}

TEST_F(FolderWalkTest, LeavesTheOpenTestToACallerThatAsksButListsOnlyFiles) {
    std::string book = make("book.xlsx");
    ASSERT_EQ(::mkfifo(dir_.path("t/pipe.xlsx").c_str(), 0600), 0);
    std::string locked = make("locked.xlsx");
    QFile::setPermissions(QString::fromStdString(locked), QFileDevice::Permissions());
    gq::WalkHooks hooks;
    hooks.testOpening = false;
    EXPECT_EQ(gq::FolderWalk(hooks).FilesInTree(root(), "*.xlsx"),
              (std::vector<std::string>{book, locked}));
    if (::geteuid() != 0) { // root opens every file
        EXPECT_EQ(gq::FolderWalk().FilesInTree(root(), "*.xlsx"), std::vector<std::string>{book});
    }
}

TEST(FileTests, AttributesAndNamesMapAsDocumented) {
    gqtest::TempDir dir;
    std::string file = dir.path(".x");
    gqtest::WriteFile(file, "x");
    EXPECT_EQ(gq::FileAttributes(file), gq::kArchive | gq::kHidden);
    QFile::setPermissions(QString::fromStdString(file), QFile::ReadOwner);
    EXPECT_EQ(gq::FileAttributes(file), gq::kArchive | gq::kHidden | gq::kReadOnly);
    EXPECT_EQ(gq::FileAttributes(dir.path("")), gq::kDirectory);
    EXPECT_EQ(gq::FileAttributes(dir.path("none")), -1);
    EXPECT_TRUE(gq::IsFolder(dir.path("")));
    EXPECT_FALSE(gq::FileCanBeOpened(dir.path("")));
    EXPECT_TRUE(gq::FileCanBeOpened(file));
    EXPECT_TRUE(gq::HasUnmappableChars("a?b"));
    EXPECT_TRUE(gq::HasUnmappableChars("bad\xFF"));
    EXPECT_TRUE(gq::HasUnmappableChars("tab\tname"));
    EXPECT_FALSE(gq::HasUnmappableChars("Résumé 2024.xlsx"));
    EXPECT_TRUE(gq::NameMatches("Book.XLSX", "*.xl*"));
    EXPECT_FALSE(gq::NameMatches("book.csv", "*.xl*"));
    EXPECT_TRUE(gq::NameMatches("README", "*.*"));
}

TEST(FileTests, NormalizePathCollapsesDoubledSeparators) {
    EXPECT_EQ(gq::NormalizePath(""), "");
    EXPECT_EQ(gq::NormalizePath("/"), "/");
    EXPECT_EQ(gq::NormalizePath("///srv//a///b.xlsx"), "/srv/a//b.xlsx");
    EXPECT_EQ(gq::NormalizePath("rel//x////y"), "rel/x//y");
}

} // namespace

namespace {

TEST(FileTests, NormalizeBackslashPathKeepsANetworkPrefix) {
    struct Case {
        const char* path;
        const char* normalized;
    };
    const Case cases[] = {
        {"", ""},
        {"\\", "\\\\"},
        {"\\\\", "\\\\"},
        {"a\\\\\\b", "a\\\\b"},   // three in the middle: a pair and one
        {"a\\\\\\\\b", "a\\\\b"}, // four: two pairs
        {"C:\\\\Data\\\\book.xls", "C:\\Data\\book.xls"},
        {"\\\\\\server\\share\\a.xls", "\\\\server\\share\\a.xls"},
        {"\\share\\a.xls", "\\\\share\\a.xls"},
        {"\\\\\\\\srv\\\\x", "\\\\srv\\x"},
        {"plain/name.xlsx", "plain/name.xlsx"}, // forward slashes are not its business
    };
    for (const Case& c : cases)
        EXPECT_EQ(gq::NormalizeBackslashPath(c.path), c.normalized) << c.path;
}

TEST_F(FolderWalkTest, ScanTreeHandsOverOneBatchPerFolderAndStopsWhenAsked) {
    std::string top = make("a.xlsx");
    make("one/b.xlsx");
    make("one/c.xlsx");
    make("empty", true);
    make("two/d.xlsx");
    std::vector<std::vector<std::string>> batches;
    gq::FolderWalk().ScanTree(root(), "*.xl*",
                              [&](std::vector<std::string>& paths) { batches.push_back(paths); });
    ASSERT_EQ(batches.size(), 3u); // no batch for a folder without files
    EXPECT_EQ(batches[0], std::vector<std::string>{top});
    EXPECT_EQ(batches[1].size(), 2u);

    int yields = 0;
    gq::WalkHooks hooks;
    hooks.yield = [&] { ++yields; };
    hooks.stop = [&] { return !batches.empty(); };
    batches.clear();
    gq::FolderWalk(hooks).ScanTree(
        root(), "*.xl*", [&](std::vector<std::string>& paths) { batches.push_back(paths); });
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_GT(yields, 0);
}

// The scan takes each folder's files from the walk's own reading of the folder; what it adds
// must be what listing every walked folder afresh gives, in the same order.
TEST_F(FolderWalkTest, ScanAddsWhatListingEachWalkedFolderGives) {
    for (const char* file : {"b.XLSX", "A.xls", "~$A.xls", "c.txt", "sub/Z.xlsm", "sub/y.XLS",
                             "sub/deeper/x.xlsx", "Other/w.xlsb"})
        make(file);
    ASSERT_EQ(::symlink("b.XLSX", (root() + "/link.xlsx").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (root() + "/Other/to-sub").c_str()), 0);
    ASSERT_EQ(::symlink("none", (root() + "/broken.xlsx").c_str()), 0);
    for (const char* pattern : {"*.xl*", "*.*", "*.XLS"}) {
        std::vector<std::string> folders{root() + "/"};
        gq::FolderWalk walk;
        walk.GetSubDirectories2016(folders, true);
        std::vector<std::string> expected;
        for (const std::string& folder : folders)
            for (const std::string& name : gq::FolderWalk().ListFiles(folder, pattern))
                if (name[0] != '~' && folder != root() + "/Other/to-sub/")
                    expected.push_back(folder + name);
        EXPECT_EQ(gq::FolderWalk().FilesInTree(root(), pattern), expected) << pattern;
    }
}

// The window's toolkit orders and matches names; the walk must do the same without it.
TEST_F(FolderWalkTest, OrdersAndMatchesNamesBeyondAsciiAsTheToolkitDoes) {
    // Letters whose cases differ in length, fold to ASCII, or lie beyond the basic plane.
    const std::vector<std::string> letters = {
        "a",        "B",        "\xC3\x84",         "\xC3\xA4",         "\xCE\xA9",
        "\xCF\x89", "\xC3\x9F", "\xE1\xBA\x9E",     "\xE2\x84\xAA",     "k",
        "\xC7\x85", "\xC7\x86", "\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", "\xEF\xAC\x80",
        "\xC4\xB0", "i"};
    std::mt19937 random(11);
    std::vector<std::string> names;
    for (int n = 0; n < 60; ++n) {
        std::string name;
        for (int k = 1 + static_cast<int>(random() % 3); k > 0; --k)
            name += letters[random() % letters.size()];
        const std::string path = root() + "/" + name;
        if (std::find(names.begin(), names.end(), path) == names.end()) {
            make(name);
            names.push_back(path);
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order =
            QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    EXPECT_EQ(gq::FolderWalk().FilesInTree(root(), "*"), names);

    // '?' stands for a UTF-16 unit here but for a character in a regular expression: the
    // references leave it out.
    for (const char* pattern :
         {"*\xC3\xA4*", "\xCF\x89*", "*\xF0\x90\x90\x80", "*K*", "*SS*", "*\xE1\xBA\x9E*"})
        for (const std::string& path : names) {
            const std::string name = path.substr(path.rfind('/') + 1);
            const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(
                QString::fromStdString(pattern).toCaseFolded()));
            EXPECT_EQ(gq::NameMatches(name, pattern),
                      wildcard.match(QString::fromStdString(name).toCaseFolded()).hasMatch())
                << name << " " << pattern;
        }
}

TEST_F(FolderWalkTest, FileNamesThatAreNotUtf8AreNotListed) {
    std::string good = make("good.xlsx");
    // Made by bytes: Qt would turn the name into valid UTF-8 on the way.
    int fd = ::open((root() + "/bad\xFF.xlsx").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(gq::FolderWalk().FilesInTree(root(), "*.xlsx"), std::vector<std::string>{good});
    // The temporary folder's clean-up goes by Qt's names, which cannot reach this one.
    ::unlink((root() + "/bad\xFF.xlsx").c_str());
}

} // namespace
