/* Writes the workbook that make-fixtures turns into fixture.ods: strings, rich text, numbers and
 * dates in many formats, booleans, formulas with cached results, several sheets, a sparse sheet
 * and a far-away cell. Usage: make-fixtures-gen OUT.xlsx */
#include <xlsxwriter.h>

#include <stdio.h>

static lxw_workbook* book;

/* The generator prints each sheet name as it adds it, so the script knows the order. */
static lxw_worksheet* AddSheet(const char* name) {
    printf("%s\n", name);
    return workbook_add_worksheet(book, name);
}

static lxw_format* Fmt(const char* code) {
    lxw_format* format = workbook_add_format(book);
    format_set_num_format(format, code);
    return format;
}

struct NumberCase {
    double value;
    const char* code;
};

static const struct NumberCase kNumbers[] = {
    {1, "General"},
    {-1, "General"},
    {0.5, "General"},
    {1234567.891, "General"},
    {0.0000001, "General"},
    {123456789012.0, "General"},
    {3.14159265358979, "General"},
    {42, "0"},
    {-2.675, "0.00"},
    {1234567.891, "#,##0"},
    {1234567.891, "#,##0.00"},
    {-1234.5, "#,##0.00"},
    {0.256, "0%"},
    {0.0256, "0.00%"},
    {12345.678, "0.00E+00"},
    {0.000123, "0.0E+0"},
    {1.25, "# ?/?"},
    {3.14159, "# ?\?/??"},
    {0.375, "?/8"},
    {1234.5, "$#,##0.00"},
    {-1234.5, "#,##0.00;[Red](#,##0.00)"},
    {1234.5, "[$\xE2\x82\xAC-407] #,##0.00"},
    {-1234.5, "_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)"},
    {0, "_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)"},
    {123456789, "0.0,,"},
    {17, "\"Total: \"0"},
    {1234, "000000"},
    {1500, "[>=1000]#,##0;0.0"},
    {12.5, "[>=1000]#,##0;0.0"},
    {99, ";;;"},
    {5, "0;-0;\"zero\""},
    {0, "0;-0;\"zero\""},
    {-5, "0;-0;\"zero\""},
    {7.5, "@"},
    {0.5, "0.0\" kg\""},
};

struct DateCase {
    lxw_datetime when;
    const char* code;
};

static const struct DateCase kDates[] = {
    {{2021, 1, 1, 0, 0, 0}, "yyyy-mm-dd"},
    {{2021, 3, 7, 0, 0, 0}, "m/d/yyyy"},
    {{2021, 3, 7, 0, 0, 0}, "d mmmm yyyy"},
    {{2021, 3, 7, 0, 0, 0}, "dddd, mmmm d, yyyy"},
    {{2021, 3, 7, 0, 0, 0}, "mmm-yy"},
    {{2021, 3, 7, 0, 0, 0}, "ddd dd/mm/yy"},
    {{2021, 3, 7, 13, 45, 0}, "h:mm"},
    {{2021, 3, 7, 13, 45, 30}, "h:mm:ss AM/PM"},
    {{2021, 3, 7, 13, 45, 30}, "yyyy-mm-dd hh:mm:ss"},
    {{2021, 3, 7, 9, 5, 0}, "d/m/yy h:mm"},
    {{0, 0, 0, 10, 10, 10.5}, "mm:ss.0"},
    {{0, 0, 0, 10, 10, 10}, "hh:mm:ss"},
    {{1999, 12, 31, 23, 59, 59}, "m/d/yyyy h:mm"},
    {{1900, 1, 1, 0, 0, 0}, "yyyy-mm-dd"},
    {{1900, 3, 1, 0, 0, 0}, "yyyy-mm-dd"},
};

static void WriteText(void) {
    lxw_worksheet* sheet = AddSheet("Text");
    lxw_format* wrap = workbook_add_format(book);
    format_set_text_wrap(wrap);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* italic = workbook_add_format(book);
    format_set_italic(italic);

    worksheet_write_string(sheet, 0, 0, "Plain text", NULL);
    worksheet_write_string(sheet, 1, 0,
                           "\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9 \xE2\x80\x94 "
                           "\xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                           NULL);
    lxw_rich_string_tuple part1 = {bold, "Bold"};
    lxw_rich_string_tuple part2 = {NULL, " and "};
    lxw_rich_string_tuple part3 = {italic, "italic"};
    lxw_rich_string_tuple* rich[] = {&part1, &part2, &part3, NULL};
    worksheet_write_rich_string(sheet, 2, 0, rich, NULL);
    worksheet_write_string(sheet, 3, 0, "  leading and trailing  ", NULL);
    worksheet_write_string(sheet, 4, 0, "multiple   spaces", NULL);
    worksheet_write_string(sheet, 5, 0, "line one\nline two", wrap);
    worksheet_write_string(sheet, 6, 0, "tab\there", NULL);
    worksheet_write_string(sheet, 7, 0, "#DIV/0!", NULL);
    worksheet_write_string(sheet, 8, 0, "00123", NULL);
    worksheet_write_string(sheet, 9, 0, "quote \"inside\"", NULL);
    worksheet_write_string(sheet, 10, 0, "<&>", NULL);
    worksheet_write_url(sheet, 11, 0, "https://example.com/", NULL);
    worksheet_write_string(sheet, 12, 0, "has a note", NULL);
    worksheet_write_comment(sheet, 12, 0, "This note is not cell text");
    worksheet_merge_range(sheet, 13, 0, 14, 2, "merged across", NULL);
    worksheet_write_string(sheet, 15, 0, "one", NULL);
    worksheet_write_string(sheet, 15, 1, "two", NULL);
    worksheet_write_string(sheet, 15, 3, "four", NULL);
    worksheet_write_string(sheet, 16, 0, "para one\n\npara three", wrap);
    worksheet_write_string(sheet, 17, 0, " ", NULL);
}

static void WriteNumbers(void) {
    lxw_worksheet* sheet = AddSheet("Numbers");
    for (size_t i = 0; i < sizeof kNumbers / sizeof kNumbers[0]; ++i) {
        worksheet_write_number(sheet, (lxw_row_t)i, 0, kNumbers[i].value, Fmt(kNumbers[i].code));
        worksheet_write_string(sheet, (lxw_row_t)i, 1, kNumbers[i].code, NULL);
    }
}

static void WriteDates(void) {
    lxw_worksheet* sheet = AddSheet("Dates");
    size_t n = sizeof kDates / sizeof kDates[0];
    for (size_t i = 0; i < n; ++i) {
        lxw_datetime when = kDates[i].when;
        worksheet_write_datetime(sheet, (lxw_row_t)i, 0, &when, Fmt(kDates[i].code));
        worksheet_write_string(sheet, (lxw_row_t)i, 1, kDates[i].code, NULL);
    }
    worksheet_write_number(sheet, (lxw_row_t)n, 0, 1.5, Fmt("[h]:mm:ss"));
    worksheet_write_number(sheet, (lxw_row_t)n + 1, 0, 45000, Fmt("mmmm d, yyyy"));
}

static void WriteLogic(void) {
    lxw_worksheet* sheet = AddSheet("Logic & formulas");
    worksheet_write_boolean(sheet, 0, 0, 1, NULL);
    worksheet_write_boolean(sheet, 1, 0, 0, NULL);
    worksheet_write_number(sheet, 2, 0, 20, NULL);
    worksheet_write_formula_num(sheet, 2, 1, "=A3*2", NULL, 40);
    worksheet_write_formula_str(sheet, 3, 1, "=\"x\"&A3", NULL, "x20");
    worksheet_write_formula(sheet, 4, 1, "=1/0", NULL);
    worksheet_write_formula(sheet, 5, 1, "=NA()", NULL);
    worksheet_write_formula_num(sheet, 6, 1, "=A3/3", Fmt("0.000"), 20.0 / 3);
    worksheet_write_formula_num(sheet, 7, 1, "=A3>10", NULL, 1);
    worksheet_write_formula_num(sheet, 8, 1, "=DATE(2020,2,29)", Fmt("yyyy-mm-dd"), 43890);
}

static void WriteRepeats(void) {
    lxw_worksheet* sheet = AddSheet("Repeats");
    for (lxw_row_t row = 0; row < 40; ++row)
        for (lxw_col_t col = 0; col < 3; ++col)
            worksheet_write_string(sheet, row, col, "same", NULL);
    for (lxw_col_t col = 0; col < 30; ++col)
        worksheet_write_number(sheet, 41, col, 1, NULL);
}

static void WriteSparse(void) {
    lxw_worksheet* sheet = AddSheet("Sparse data");
    worksheet_write_string(sheet, 1, 1, "B2", NULL);
    worksheet_write_string(sheet, 9, 3, "D10", NULL);
    worksheet_write_number(sheet, 99, 25, 100, NULL);
    worksheet_write_string(sheet, 2, 26, "AA3", NULL);
    worksheet_write_string(sheet, 4999, 0, "A5000", NULL);
}

/* Two sheets, as the export pads every line to the used width: one far column, one far row. */
static void WriteFar(void) {
    lxw_worksheet* columns = AddSheet("Far column");
    worksheet_write_string(columns, 0, 0, "start", NULL);
    worksheet_write_string(columns, 2, 16383, "XFD3", NULL);
    lxw_worksheet* rows = AddSheet("Far row");
    worksheet_write_string(rows, 0, 0, "start", NULL);
    worksheet_write_string(rows, 99999, 1, "B100000", NULL);
    worksheet_write_string(rows, 1048575, 2, "C1048576", NULL);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.xlsx\n", argv[0]);
        return 2;
    }
    book = workbook_new(argv[1]);
    if (!book)
        return 1;
    WriteText();
    WriteNumbers();
    WriteDates();
    WriteLogic();
    WriteRepeats();
    WriteSparse();
    WriteFar();
    lxw_worksheet* hidden = AddSheet("Hidden");
    worksheet_write_string(hidden, 0, 0, "hidden sheet text", NULL);
    worksheet_hide(hidden);
    AddSheet("Empty");
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
