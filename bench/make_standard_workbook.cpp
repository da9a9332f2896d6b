// Writes the standard benchmark workbook: 100,000 rows x 10 columns on one sheet; half the cells
// short shared strings, the rest numbers formatted "#,##0.00", "0.00%" and "yyyy-mm-dd".
#include <xlsxwriter.h>

#include <cstdio>
#include <random>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-standard-workbook OUTPUT.xlsx\n");
        return 2;
    }
    const char* words[] = {"tea",   "bread", "stone", "river", "apple", "north", "clear",
                           "metal", "paper", "green", "sheet", "price", "order", "plant",
                           "delta", "light", "table", "sugar", "cable", "heart"};
    lxw_workbook* workbook = workbook_new(argv[1]);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Data");
    lxw_format* formats[3];
    const char* codes[3] = {"#,##0.00", "0.00%", "yyyy-mm-dd"};
    for (int i = 0; i < 3; ++i) {
        formats[i] = workbook_add_format(workbook);
        format_set_num_format(formats[i], codes[i]);
    }
    std::mt19937 random(20261208);
    for (lxw_row_t row = 0; row < 100000; ++row) {
        for (lxw_col_t col = 0; col < 10; ++col) {
            if (col % 2 == 0) {
                std::string text = std::string(words[random() % 20]) + " " + words[random() % 20] +
                                   " " + std::to_string(random() % 100);
                worksheet_write_string(sheet, row, col, text.c_str(), nullptr);
            } else {
                int kind = (col / 2) % 3;
                double value = kind == 2   ? 30000 + random() % 20000
                               : kind == 1 ? (random() % 10000) / 10000.0
                                           : (random() % 100000000) / 100.0;
                worksheet_write_number(sheet, row, col, value, formats[kind]);
            }
        }
    }
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : 1;
}
