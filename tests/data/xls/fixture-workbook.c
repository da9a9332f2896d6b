/* Writes the .xlsx that make-fixtures turns into the legacy .xls fixtures. */
#include <xlsxwriter.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char* Repeat(const char* unit, int times, const char* tail) {
    size_t unitLength = strlen(unit), tailLength = strlen(tail);
    char* text = malloc(unitLength * (size_t)times + tailLength + 1);
    char* end = text;
    for (int i = 0; i < times; ++i, end += unitLength)
        memcpy(end, unit, unitLength);
    memcpy(end, tail, tailLength + 1);
    return text;
}

static lxw_format* NumberFormat(lxw_workbook* workbook, const char* code) {
    lxw_format* format = workbook_add_format(workbook);
    format_set_num_format(format, code);
    return format;
}

static lxw_format* BuiltInFormat(lxw_workbook* workbook, int index) {
    lxw_format* format = workbook_add_format(workbook);
    format_set_num_format_index(format, (uint8_t)index);
    return format;
}

static void WriteTexts(lxw_workbook* workbook) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Texts");
    worksheet_write_string(sheet, 0, 0, "Hello", NULL);
    worksheet_write_string(sheet, 0, 1, "world of cells", NULL);

    lxw_format* bold = workbook_add_format(workbook);
    format_set_bold(bold);
    lxw_format* red = workbook_add_format(workbook);
    format_set_font_color(red, LXW_COLOR_RED);
    lxw_rich_string_tuple first = {.format = NULL, .string = "plain "};
    lxw_rich_string_tuple second = {.format = bold, .string = "bold "};
    lxw_rich_string_tuple third = {.format = red, .string = "red end"};
    lxw_rich_string_tuple* rich[] = {&first, &second, &third, NULL};
    worksheet_write_rich_string(sheet, 1, 0, rich, NULL);

    /* Each of these is longer than one record holds, so the string table needs continuations. */
    char* longLatin = Repeat("abcdefghij", 900, "<end>");
    char* longCyrillic = Repeat("\xD0\x96\xD0\xB8\xD0\xB2", 1500, "<end>"); /* "Жив" */
    char* longMixed = Repeat("x\xC3\xA9", 2000, "\xE2\x82\xAC<end>");     /* "xé", then "€" */
    worksheet_write_string(sheet, 2, 0, longLatin, NULL);
    worksheet_write_string(sheet, 3, 0, longCyrillic, NULL);
    worksheet_write_string(sheet, 4, 0, longMixed, NULL);
    lxw_rich_string_tuple longBold = {.format = bold, .string = longLatin};
    lxw_rich_string_tuple longTail = {.format = red, .string = " tail"};
    lxw_rich_string_tuple* longRich[] = {&longBold, &longTail, NULL};
    worksheet_write_rich_string(sheet, 5, 0, longRich, NULL);
    free(longLatin);
    free(longCyrillic);
    free(longMixed);

    worksheet_write_string(sheet, 6, 0, "Gr\xC3\xBC\xC3\x9F" "e \xC3\x84\xC3\x96\xC3\x9C caf\xC3\xA9", NULL);
    worksheet_write_string(sheet, 6, 1, "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC", NULL);
    worksheet_write_string(sheet, 6, 2, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88", NULL);
    worksheet_write_string(sheet, 6, 3, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", NULL);
    worksheet_write_string(sheet, 6, 4, "smile \xF0\x9F\x98\x80 ok", NULL);
    worksheet_write_string(sheet, 7, 0, "two\nlines", NULL);
    worksheet_write_string(sheet, 7, 1, "tab\there", NULL);
    worksheet_write_string(sheet, 7, 2, "say \"quoted\"", NULL);
    worksheet_write_string(sheet, 7, 3, "  padded  ", NULL);
    worksheet_write_string(sheet, 8, 0, "Hello", NULL); /* a repeated string shares its entry */
    worksheet_write_string(sheet, 8, 3, "last", NULL);
}

static void WriteNumbers(lxw_workbook* workbook) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Numbers");
    static const struct {
        const char* code;
        double value;
    } custom[] = {
        {"0.00", 3.14159},
        {"#,##0", 1234567.891},
        {"0%", 0.256},
        {"0.00E+00", 12345.678},
        {"# ?/?", 2.5},
        {"[Red]0.0;[Blue]-0.0", -7.25},
        {"\"$\"#,##0.00", 1999.5},
        {"@", 42},
        {"000000", 123},
        {"0.000;(0.000);\"zero\"", 0},
        {"#,##0.00 \"kg\"", 75.5},
        {"yyyy-mm-dd", 45123},
        {"d/m/yyyy h:mm", 45123.75},
        {"h:mm:ss", 0.5123},
        {"[h]:mm", 1.75},
        {"mmm d, yyyy", 36526},
        {"dddd", 45000},
    };
    int count = (int)(sizeof custom / sizeof custom[0]);
    for (int i = 0; i < count; ++i) {
        worksheet_write_string(sheet, (lxw_row_t)i, 0, custom[i].code, NULL);
        worksheet_write_number(sheet, (lxw_row_t)i, 1, custom[i].value,
                               NumberFormat(workbook, custom[i].code));
    }
    static const struct {
        int id;
        double value;
    } builtIn[] = {{1, 17.6}, {2, 17.625}, {3, 98765.4}, {4, 98765.4321}, {9, 0.5},
                   {10, 0.12345}, {11, 0.000123}, {14, 40000}, {15, 40000}, {18, 0.75},
                   {20, 0.75}, {22, 40000.5}, {45, 0.0123}, {46, 2.25}, {49, 7}};
    int builtInCount = (int)(sizeof builtIn / sizeof builtIn[0]);
    for (int i = 0; i < builtInCount; ++i) {
        lxw_row_t row = (lxw_row_t)(count + i);
        char label[32];
        snprintf(label, sizeof label, "built-in %d", builtIn[i].id);
        worksheet_write_string(sheet, row, 0, label, NULL);
        worksheet_write_number(sheet, row, 1, builtIn[i].value, BuiltInFormat(workbook, builtIn[i].id));
    }
    lxw_row_t row = (lxw_row_t)(count + builtInCount);
    static const double plain[] = {0, 1, -1, 42, 1e15, 123456789012, 1.5e-10, -0.001, 0.1,
                                   2.5, 100.25, 536870911, 536870912, -536870912, 1e100};
    for (int i = 0; i < (int)(sizeof plain / sizeof plain[0]); ++i)
        worksheet_write_number(sheet, row, (lxw_col_t)i, plain[i], NULL);
}

static void WriteValues(lxw_workbook* workbook) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Values");
    worksheet_write_boolean(sheet, 0, 0, 1, NULL);
    worksheet_write_boolean(sheet, 0, 1, 0, NULL);
    worksheet_write_number(sheet, 1, 0, 10, NULL);
    worksheet_write_number(sheet, 1, 1, 4, NULL);
    worksheet_write_formula_num(sheet, 2, 0, "=A2+B2", NULL, 14);
    worksheet_write_formula_num(sheet, 2, 1, "=A2/B2", NumberFormat(workbook, "0.00"), 2.5);
    worksheet_write_formula_str(sheet, 2, 2, "=\"ab\"&\"cd\"", NULL, "abcd");
    worksheet_write_formula_str(sheet, 2, 3, "=\"\"", NULL, "");
    worksheet_write_formula_num(sheet, 2, 4, "=A2>B2", NULL, 1);
    worksheet_write_formula(sheet, 3, 0, "=1/0", NULL);
    worksheet_write_formula(sheet, 3, 1, "=NA()", NULL);
    worksheet_write_formula(sheet, 3, 2, "=SQRT(-1)", NULL);
    worksheet_write_formula(sheet, 3, 3, "=\"a\"+1", NULL);
    worksheet_write_formula(sheet, 3, 4, "=NOSUCHFUNCTION(1)", NULL);
    worksheet_write_formula(sheet, 3, 5, "=A2 B2", NULL);
    worksheet_write_formula(sheet, 4, 0, "=TRUE()", NULL);
    worksheet_write_formula(sheet, 4, 1, "=FALSE()", NULL);
    worksheet_write_formula(sheet, 4, 2, "=REPT(\"xy\",3)", NULL);
    worksheet_write_formula(sheet, 4, 3, "=DATE(2024,2,29)", BuiltInFormat(workbook, 14));
    lxw_format* boxed = workbook_add_format(workbook);
    format_set_border(boxed, LXW_BORDER_THIN);
    worksheet_write_blank(sheet, 5, 0, boxed);
    worksheet_write_blank(sheet, 5, 1, boxed);
    worksheet_write_blank(sheet, 5, 2, boxed);
    worksheet_write_string(sheet, 5, 3, "after blanks", NULL);
}

static void WriteChartSheet(lxw_workbook* workbook) {
    lxw_chartsheet* chartsheet = workbook_add_chartsheet(workbook, "Chart");
    lxw_chart* chart = workbook_add_chart(workbook, LXW_CHART_COLUMN);
    chart_add_series(chart, NULL, "=Values!$A$2:$B$2");
    chartsheet_set_chart(chartsheet, chart);
}

static void WriteSparse(lxw_workbook* workbook) {
    lxw_worksheet* sheet =
        workbook_add_worksheet(workbook, "Sparse \xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5");
    worksheet_write_string(sheet, 0, 0, "top left", NULL);
    worksheet_write_number(sheet, 99, 25, 2600, NULL);
    worksheet_write_string(sheet, 149, 255, "last column", NULL);
}

/* Only column A, so that the "as shown" export of 60,000 rows stays small. */
static void WriteFar(lxw_workbook* workbook) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Far");
    worksheet_write_string(sheet, 0, 0, "first", NULL);
    worksheet_write_string(sheet, 9999, 0, "row 10000", NULL);
    worksheet_write_string(sheet, 59999, 0, "far away", NULL);
}

static void WriteGrid(lxw_workbook* workbook) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Grid");
    for (lxw_row_t row = 0; row < 150; ++row) {
        char text[32];
        snprintf(text, sizeof text, "r%uc1", (unsigned)row + 1);
        worksheet_write_string(sheet, row, 0, text, NULL);
        worksheet_write_number(sheet, row, 1, row * 3 + 0.5, NULL);
        worksheet_write_number(sheet, row, 2, row, NULL);
        worksheet_write_number(sheet, row, 3, -(double)row * 100, NULL);
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.xlsx\n", argv[0]);
        return 2;
    }
    lxw_workbook* workbook = workbook_new(argv[1]);
    WriteTexts(workbook);
    WriteNumbers(workbook);
    WriteValues(workbook);
    WriteChartSheet(workbook);
    WriteSparse(workbook);
    WriteFar(workbook);
    WriteGrid(workbook);
    workbook_add_worksheet(workbook, "Empty");
    /* The sheet names in order, for the index of the "as shown" export. */
    lxw_sheet* sheet;
    STAILQ_FOREACH(sheet, workbook->sheets, list_pointers) {
        printf("%s\n", sheet->is_chartsheet ? sheet->u.chartsheet->name : sheet->u.worksheet->name);
    }
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : 1;
}
