#include "FolderWalk.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <unistd.h>

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
    ASSERT_EQ(::symlink("..", (root() + "/a/b/up").c_str()), 0);
    auto files = gq::FolderWalk().FilesInTree(root(), "*.xlsx");
    EXPECT_EQ(files, std::vector<std::string>{book});
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
