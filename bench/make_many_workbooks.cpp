// make-many-workbooks FOLDER [COUNT]: writes COUNT (default 2,000) small workbooks into FOLDER, a
// few sheets of a few hundred cells each, and copies the .xls files given after COUNT in among
// them, every tenth file, so that a search over the folder meets both formats.
#include <xlsxwriter.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-many-workbooks FOLDER [COUNT [XLS...]]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::vector<std::filesystem::path> xls(argv + std::min(argc, 3), argv + argc);
    std::filesystem::create_directories(folder);
    const char* words[] = {"tea",   "bread", "stone", "river", "apple", "north", "clear",
                           "metal", "paper", "green", "sheet", "price", "order", "plant"};
    std::mt19937 random(20261208);
    for (int i = 0; i < count; ++i) {
        char name[32];
        if (!xls.empty() && i % 10 == 9) {
            std::snprintf(name, sizeof name, "book%05d.xls", i);
            std::filesystem::copy_file(xls[i / 10 % xls.size()], folder / name,
                                       std::filesystem::copy_options::overwrite_existing);
            continue;
        }
        std::snprintf(name, sizeof name, "book%05d.xlsx", i);
        lxw_workbook* workbook = workbook_new((folder / name).c_str());
        lxw_format* money = workbook_add_format(workbook);
        format_set_num_format(money, "#,##0.00");
        for (int s = 0; s < 3; ++s) {
            lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
            for (lxw_row_t row = 0; row < 60; ++row)
                for (lxw_col_t col = 0; col < 6; ++col) {
                    if (col % 2 == 0) {
                        std::string text = std::string(words[random() % 14]) + " " +
                                           words[random() % 14] + " " +
                                           std::to_string(random() % 1000);
                        worksheet_write_string(sheet, row, col, text.c_str(), nullptr);
                    } else {
                        worksheet_write_number(sheet, row, col, (random() % 1000000) / 100.0,
                                               money);
                    }
                }
        }
        if (workbook_close(workbook) != LXW_NO_ERROR) {
            std::fprintf(stderr, "make-many-workbooks: cannot write %s\n", name);
            return 1;
        }
    }
    return 0;
}
