// Several files searched at once print exactly what one worker prints, errors in their places.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ParallelSearch : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 24; ++i) {
            std::string path = dir_.path("book" + std::to_string(100 + i) + ".xlsx");
            if (i % 7 == 3) {
                gqtest::WriteFile(path, std::string("PK\3\4\0\0\0\0 cut short", 18));
            } else {
                gqtest::WriteXlsx(path, [i](lxw_workbook* workbook) {
                    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "S");
                    for (int row = 0; row < 40 * (i % 5); ++row)
                        worksheet_write_string(sheet, row, row % 3,
                                               ("tea " + std::to_string(i * 1000 + row)).c_str(),
                                               nullptr);
                });
            }
            files_.push_back(path);
        }
        // One file finds far more than a later file may hold while it waits for its turn.
        std::string big = dir_.path("book099.xlsx");
        const std::string text = "tea" + std::string(32000, 'x');
        gqtest::WriteXlsx(big, [&](lxw_workbook* workbook) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Big");
            for (int row = 0; row < 700; ++row)
                worksheet_write_string(sheet, row, 0, text.c_str(), nullptr);
        });
        files_.insert(files_.begin() + 5, big);
    }

    // stdout and stderr as one stream, so that an error line's place among the rows shows.
    gqtest::ProgramRun Run(std::vector<std::string> options) {
        std::vector<std::string> args{"-c", "\"$0\" \"$@\" 2>&1", GQ_FIND_PROGRAM};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), files_.begin(), files_.end());
        return gqtest::RunProgram("/bin/sh", args);
    }

    gqtest::TempDir dir_;
    std::vector<std::string> files_;
};

TEST_F(ParallelSearch, GivesTheSameOutputInTheSameOrderAsOneWorker) {
    const std::vector<std::vector<std::string>> forms = {
        {"tea"}, {"-c", "tea"}, {"-l", "tea"}, {"--json", "tea"}, {"--no-locations", "1?"}};
    for (const auto& form : forms) {
        std::vector<std::string> one{"-j", "1"}, many{"-j", "5"};
        one.insert(one.end(), form.begin(), form.end());
        many.insert(many.end(), form.begin(), form.end());
        gqtest::ProgramRun alone = Run(one);
        ASSERT_NE(alone.out.find("gridquest-find: "), std::string::npos) << form.back();
        for (int round = 0; round < 3; ++round) {
            gqtest::ProgramRun together = Run(many);
            EXPECT_EQ(together.exitCode, alone.exitCode) << form.front();
            ASSERT_EQ(together.out.size(), alone.out.size()) << form.front();
            EXPECT_TRUE(together.out == alone.out) << form.front();
        }
    }
}

TEST_F(ParallelSearch, RefusesANumberOfThreadsThatIsNone) {
    for (const char* bad : {"0", "x", "-3", "9999"}) {
        gqtest::ProgramRun run = gqtest::RunProgram(GQ_FIND_PROGRAM, {"-j", bad, "tea", "."});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("'-j'"), std::string::npos) << bad;
    }
}

} // namespace
