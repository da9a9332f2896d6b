/* Writes same.xlsx: one workbook that the converters turn into .xls and .ods, so that the three
 * formats can be searched side by side. */
#include <xlsxwriter.h>

int main(int argc, char** argv) {
    lxw_workbook* workbook = workbook_new(argc > 1 ? argv[1] : "same.xlsx");
    lxw_worksheet* data = workbook_add_worksheet(workbook, "Data");
    const char* codes[] = {"General", "0",          "0.00",      "#,##0",       "#,##0.00",
                           "0%",      "0.00%",      "0.00E+00",  "# ?/?",       "$#,##0.00",
                           "yyyy-mm-dd", "d-mmm-yy", "h:mm:ss",  "[h]:mm",      "m/d/yyyy h:mm",
                           "@",       "\"Qty \"0",  "0.0;(0.0)", "dddd, mmmm d, yyyy", "hh:mm AM/PM"};
    double values[] = {1234.5678, -42.25, 0.125, 45123.75, 3.14159265358979, 1e-5, 100};
    worksheet_write_string(data, 0, 0, "Format", NULL);
    worksheet_write_string(data, 0, 1, "Values", NULL);
    for (int f = 0; f < 20; ++f) {
        lxw_format* format = workbook_add_format(workbook);
        format_set_num_format(format, codes[f]);
        worksheet_write_string(data, f + 1, 0, codes[f], NULL);
        for (int v = 0; v < 7; ++v)
            worksheet_write_number(data, f + 1, v + 1, values[v], format);
    }

    lxw_worksheet* text = workbook_add_worksheet(workbook, "Text & more");
    lxw_format* bold = workbook_add_format(workbook);
    format_set_bold(bold);
    worksheet_write_string(text, 0, 0, "Plain tea", NULL);
    lxw_rich_string_tuple first = {bold, "Rich "};
    lxw_rich_string_tuple second = {NULL, "bread"};
    lxw_rich_string_tuple* runs[] = {&first, &second, NULL};
    worksheet_write_rich_string(text, 1, 0, runs, NULL);
    worksheet_write_string(text, 2, 0, "Ünïcödé 日本語 ελληνικά", NULL);
    worksheet_write_boolean(text, 3, 0, 1, NULL);
    worksheet_write_boolean(text, 3, 1, 0, NULL);
    worksheet_write_formula_num(text, 4, 0, "=2+3", NULL, 5);
    worksheet_write_formula_str(text, 4, 1, "=\"te\"&\"a\"", NULL, "tea");
    worksheet_write_formula_num(text, 4, 2, "=A5>1", NULL, 1);
    worksheet_write_string(text, 5, 0, "Two\nlines", NULL);
    worksheet_write_string(text, 5, 1, "Quote \"here\"", NULL);

    lxw_worksheet* sparse = workbook_add_worksheet(workbook, "Sparse");
    worksheet_write_string(sparse, 9, 3, "near", NULL);
    worksheet_write_string(sparse, 59999, 99, "far away", NULL);
    worksheet_write_number(sparse, 299, 2, 7, NULL);

    workbook_add_worksheet(workbook, "Empty");
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : 1;
}
