/* The value/format pairs of the number format table.
 *
 *   make-cases write DIR    writes DIR/numfmt.xlsx (1900 date system) and DIR/numfmt1904.xlsx (the
 *                           same layout; the calling script switches it to the 1904 system, which
 *                           this libxlsxwriter cannot write)
 *   make-cases merge A B    reads a spreadsheet program's "as shown" TAB export of the two
 * workbooks' sheets and prints cases.tsv: value, date1904, format code, shown text
 *
 * Each sheet row: column A the value with the format under test, column B the format code, column C
 * the value as text (17 significant digits). A format "builtin:N" is applied by its number only.
 * A value "text:..." is a string cell: it tests the format's text section.
 */
#include <xlsxwriter.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    int isText;
    double value;
    char text[64];
    char format[160];
} Case;

static Case* cases;
static size_t caseCount, caseCapacity;

static Case* next_case(const char* format) {
    if (caseCount == caseCapacity) {
        caseCapacity = caseCapacity ? caseCapacity * 2 : 256;
        cases = realloc(cases, caseCapacity * sizeof *cases);
        if (!cases)
            exit(1);
    }
    Case* c = &cases[caseCount++];
    memset(c, 0, sizeof *c);
    snprintf(c->format, sizeof c->format, "%s", format);
    return c;
}

static void num(double value, const char* format) {
    next_case(format)->value = value;
}

static void text(const char* value, const char* format) {
    Case* c = next_case(format);
    c->isText = 1;
    snprintf(c->text, sizeof c->text, "%s", value);
}

/* Every format of `formats` with every value of `values`. */
static void grid(const char* const* formats, size_t nf, const double* values, size_t nv) {
    for (size_t f = 0; f < nf; ++f)
        for (size_t v = 0; v < nv; ++v)
            num(values[v], formats[f]);
}
#define GRID(F, V) grid(F, sizeof F / sizeof *F, V, sizeof V / sizeof *V)

static void build_1900(void) {
    static const double general[] = {0,
                                     1,
                                     -1,
                                     123,
                                     1234567890,
                                     12345678901,
                                     -12345678901,
                                     99999999999,
                                     123456789012,
                                     99999999999.7,
                                     1e15,
                                     1.5,
                                     1.0 / 3,
                                     2.0 / 3,
                                     -1.0 / 3,
                                     0.1 + 0.2,
                                     123.456789012345,
                                     1234567.891234,
                                     0.0001,
                                     0.00012345678,
                                     0.00001,
                                     0.00001234,
                                     1e-10,
                                     1.23456789e-7,
                                     1e100,
                                     -1.5e-300,
                                     3.14159265358979,
                                     1e21,
                                     0.5,
                                     100,
                                     1e11,
                                     1.1e-5};
    for (size_t i = 0; i < sizeof general / sizeof *general; ++i)
        num(general[i], "General");

    static const char* plain[] = {"0",     "0.00",     "#,##0",  "#,##0.00", "0.0",  "#",
                                  "#.##",  "0.#",      "000000", "00.000",   "?.??", "#,###",
                                  "0.000", "#,##0.0#", "#0.0##", "0.00##",   ".00"};
    static const double plainValues[] = {0,         1,          -1,        0.5,   2.675,
                                         1234.5678, -1234.5678, 1000000.5, 0.005, 1234567890.125};
    GRID(plain, plainValues);
    /* Values that round to zero keep their sign. */
    static const char* negativeZero[] = {"0", "0.00", "#,##0.00", "0.0;-0.0", "0;(0)"};
    static const double negativeZeroValues[] = {-0.004, -0.4};
    GRID(negativeZero, negativeZeroValues);
    /* Rounding is on the decimal digits, half away from zero, not on the binary value. */
    static const char* rounding[] = {"0.00", "0", "0.0"};
    static const double roundingValues[] = {1.005, 0.285, 1.115, 2.5, -2.5, 0.045, 8.345};
    GRID(rounding, roundingValues);
    static const char* big[] = {"0", "#,##0", "0.00"};
    static const double bigValues[] = {1e15, 123456789012345678.0, 1e20};
    GRID(big, bigValues);

    static const char* scaled[] = {"#,##0,",         "#,##0,,", "0.0,,\"M\"",
                                   "#,##0.00,\"K\"", "0,",      "0.0,"};
    static const double scaledValues[] = {0, 999, 1500, 1234567, -7654321, 123456789012};
    GRID(scaled, scaledValues);

    static const char* percent[] = {"0%", "0.00%", "0.0%", "#,##0%"};
    static const double percentValues[] = {0, 0.5, 0.12345, -0.0789, 1.5, 0.00004, 123.456};
    GRID(percent, percentValues);

    static const char* scientific[] = {"0.00E+00",  "0.0E+0",     "##0.0E+0",
                                       "0E+00",     "0.00E-00",   "0.00e+00",
                                       "00.00E+00", "0.000E+000", "##0.00E+00"};
    static const double scientificValues[] = {0,     1,        12345,  0.000123, -98765.4321,
                                              1e100, 1.5e-100, 999999, 0.5,      123456789};
    GRID(scientific, scientificValues);

    static const char* fractions[] = {"# ?/?", "# ??/??", "# ???/???", "?/?",
                                      "??/??", "# ?/8",   "# ??/16",   "?/100",
                                      "0 ?/?", "# ?/4",   "#\" \"?/?"};
    static const double fractionValues[] = {0,          0.5,   0.3,     1.0 / 3,    1.75, -2.25, 7,
                                            3.14159265, 0.001, 100.999, 12345.6789, 0.99, -0.2};
    GRID(fractions, fractionValues);

    static const char* currency[] = {"builtin:5",
                                     "builtin:6",
                                     "builtin:7",
                                     "builtin:8",
                                     "builtin:37",
                                     "builtin:38",
                                     "builtin:39",
                                     "builtin:40",
                                     "builtin:41",
                                     "builtin:42",
                                     "builtin:43",
                                     "builtin:44",
                                     "\"$\"#,##0.00",
                                     "$#,##0.00",
                                     "[$€-407]#,##0.00",
                                     "#,##0.00 [$€-407]",
                                     "[$$-409]#,##0.00",
                                     "[$USD] #,##0",
                                     "[$£-809]#,##0.00;-[$£-809]#,##0.00",
                                     "_($* #,##0.00_);_($* (#,##0.00);_($* \"-\"??_);_(@_)",
                                     "#,##0.00 \"EUR\""};
    static const double currencyValues[] = {0, 1234.5, -1234.5, 0.004, 1000000};
    GRID(currency, currencyValues);

    static const char* literal[] = {"\"Total: \"0.00",
                                    "0.00\" units\"",
                                    "\\$0.00",
                                    "#,##0 \"pcs\"",
                                    "(000) 000-0000",
                                    "000-00-0000",
                                    "0_)",
                                    "\"[\"0\"]\"",
                                    "0 \"m\"",
                                    "0\\ \\k\\g",
                                    "0.0_);(0.0)",
                                    "+0;-0;0",
                                    "0*-",
                                    "**0.00",
                                    "0 \"a\\b\"",
                                    "[Color12]0.00",
                                    "[Blue]0;[Red]-0"};
    static const double literalValues[] = {0, 5551234567, -42.5, 7};
    GRID(literal, literalValues);

    static const char* conditions[] = {"[<100]0;[>=1000]0.00",
                                       "[>=1000]#,##0.0,\"K\";0",
                                       "[<=-1]\"neg\";[>=1]\"pos\";\"small\"",
                                       "[=1]\"one\";0",
                                       "[Red][<0]0.0;[Blue][>0]0.0;0.0",
                                       "[>100]\"big\";[<-100]\"very neg\";0.0",
                                       "[<0]\"minus \"0;0",
                                       "[>=10]0;0.00",
                                       "[<>5]0;\"five\""};
    static const double conditionValues[] = {-500, -50, -1, 0, 0.5, 1, 5, 50, 500, 5000};
    GRID(conditions, conditionValues);
    num(999, "[>1000]0.00E+00;General;0.00");
    num(1001, "[>1000]0.00E+00;General;0.00");
    num(-5, "[>1000]0.00E+00;General;0.00");
    num(-5, "[>100]General;[<100](General);General");
    num(500, "[>100]General;[<100](General);General");
    num(-5, "[>100]General;[<0](General);General");
    num(5, "[>3]0.00\"a\";[<6]0.00\"b\";0.00");
    num(7, "[Red]0.00;[>5][Blue]0.00");
    num(-7, "[Red]0.00;[>5][Blue]0.00");
    static const double thousands[] = {1234567, 5000, 50, -5000};
    for (size_t i = 0; i < sizeof thousands / sizeof *thousands; ++i)
        num(thousands[i], "[>=1000000]0.0,,\"M\";[>=1000]0.0,\"K\";0");
    num(50, "[>100]0");
    num(500.5, "[<100]0;[>=1000]0.00");

    static const char* sections[] = {"0;(0)",
                                     "0.00;[Red](0.00)",
                                     "0;-0;\"zero\"",
                                     "0;0;0;\"txt \"@",
                                     "#,##0;(#,##0);\"-\";@",
                                     "0.0;-0.0;",
                                     ";;;",
                                     "0;;0",
                                     "\"pos\";\"neg\";\"zero\"",
                                     "@",
                                     "\"x\"@",
                                     "0.00;@",
                                     "General;-General;\"zero\"",
                                     "\"Value: \"General"};
    static const double sectionValues[] = {5, -5, 0, -0.4, 0.4, 1234.5678};
    GRID(sections, sectionValues);

    /* The first days of the 1900 system, including its 29 February 1900. */
    static const char* earlyDates[] = {"m/d/yyyy", "yyyy-mm-dd", "dddd", "d-mmm-yy",
                                       "mmmm d, yyyy"};
    static const double earlyValues[] = {0, 1, 59, 60, 61};
    GRID(earlyDates, earlyValues);
    static const char* dates[] = {"m/d/yyyy",
                                  "yyyy-mm-dd",
                                  "d-mmm-yy",
                                  "dd/mm/yy",
                                  "mmmm d, yyyy",
                                  "dddd",
                                  "ddd",
                                  "mmmmm",
                                  "mmm",
                                  "yy",
                                  "yyyy",
                                  "d",
                                  "dd",
                                  "m",
                                  "mm",
                                  "dddd, mmmm dd, yyyy",
                                  "m/d/yyyy h:mm",
                                  "yyyy-mm-dd hh:mm:ss",
                                  "d mmmm yyyy",
                                  "[$-F800]dddd, mmmm dd, yyyy",
                                  "[$-409]mmm d, yyyy",
                                  "dd\\.mm\\.yyyy",
                                  "\"Date: \"yyyy/mm/dd",
                                  "mmm d"};
    static const double dateValues[] = {366,     25569, 36526.25, 45000.75,
                                        2958465, 45351, 45352,    40179.5};
    GRID(dates, dateValues);
    static const char* shortYears[] = {"y", "yyy"};
    static const double shortYearValues[] = {36526.25, 45000.75};
    GRID(shortYears, shortYearValues);
    static const double odd[] = {-1, 2958466, 1e7};
    static const char* oddDates[] = {"m/d/yyyy", "yyyy-mm-dd hh:mm"};
    GRID(oddDates, odd);

    static const char* times[] = {"h:mm",           "hh:mm:ss",    "h:mm AM/PM",
                                  "[h]:mm:ss",      "[h]:mm",      "[mm]:ss",
                                  "[ss]",           "mm:ss.0",     "h:mm:ss.00",
                                  "ss.000",         "[h]:mm:ss.0", "h \"h\" m \"min\"",
                                  "hh:mm:ss AM/PM", "mm:ss",       "[$-409]h:mm:ss AM/PM",
                                  "h:m:s",          "h:mm a/p"};
    static const double timeValues[] = {0,
                                        0.25,
                                        0.5,
                                        0.75,
                                        1.5,
                                        2.75,
                                        1.0 / 86400,
                                        1.0 / 24,
                                        10665.0 / 86400,
                                        86399.0 / 86400,
                                        45000.0 + 56531.0 / 86400};
    GRID(times, timeValues);
    /* Values a hair below a second, a minute or a day: shown rounded to the finest unit shown. */
    static const char* roundedTimes[] = {"h:mm",    "hh:mm:ss",   "[h]:mm:ss", "[mm]:ss",
                                         "mm:ss.0", "h:mm:ss.00", "ss.000"};
    static const double roundedValues[] = {0.99999999, 45000.999999, 0.5208333333, 0.50000578703704,
                                           0.123456789};
    GRID(roundedTimes, roundedValues);
    static const double roundedDates[] = {45000.999999, 45000.5208333333, 45000.25};
    for (size_t i = 0; i < sizeof roundedDates / sizeof *roundedDates; ++i)
        num(roundedDates[i], "m/d/yyyy h:mm:ss AM/PM");
    static const char* markCases[] = {"h:mm:ss A/P", "hh:mm am/pm"};
    static const double markValues[] = {0.25, 0.75};
    GRID(markCases, markValues);
    static const double negativeTimes[] = {-0.5, -1.25};
    static const char* negativeTimeFormats[] = {"[h]:mm:ss", "h:mm"};
    GRID(negativeTimeFormats, negativeTimes);
    num(0.75, "[$-F400]h:mm:ss AM/PM");

    /* Assorted codes seen in real workbooks. */
    static const struct {
        double value;
        const char* format;
    } assorted[] = {
        {5551234, "[<=9999999]###-####;(###) ###-####"},
        {5551234567, "[<=9999999]###-####;(###) ###-####"},
        {1234567, "#\\ ##0"},
        {1234567.891, "#,##0.00 \u20ac"},
        {0.25, "0.0\\%"},
        {45000.75, "yyyy-mm-ddThh:mm:ss"},
        {45000.123456, "dd-mmm-yyyy hh:mm:ss.000"},
        {1.75, "[h]\"h\" mm\"m\""},
        {0.5, "h:mm:ss;@"},
        {45000.5, "m/d/yy;@"},
        {0.123, ".0%"},
        {3.5, "0 \"ft\" 0 \"in\""},
        {1234.5, "#,##0.00;;"},
        {-1234.5, "#,##0.00;;"},
        {0, "#,##0.00;;"},
        {5, "?,???"},
        {5, "0,0"},
        {1234, "0,0"},
        {12345, "#,"},
        {1234, "#,##0.00,"},
        {0.5, "mm:ss.00"},
        {-0.5, "# ?/?;(# ?/?)"},
        {2.5, "?/2"},
        {12345.5, "#,##0 ?/?"},
        {0.125, "# ?/???"},
        {0.333, "0/0"},
        {1234.5, "[$AUD] #,##0.00"},
        {1234.5, "#,##0.00[$\u20bd-419]"},
        {1234.5, "[$-1010409]#,##0.00"},
        {3, "[=1]\"one\";[=2]\"two\";\"many\""},
        {2, "[=1]\"one\";[=2]\"two\";\"many\""},
        {-5, "[>=10][Red]0;[Blue]0"},
        {1234.5, "[DBNum1]0.00"},
        {1234.5, "0.00E+00 \"x\""},
        {-1234.5, "\"a\"0.00E+00"},
        {1234.5, "#,##0 *x"},
        {1234.5, "\\#0"},
        {45000.5, "dd.mm.yy hh:mm"},
        {0.3, "h mm"},
        {0.3, "mm s"},
    };
    for (size_t i = 0; i < sizeof assorted / sizeof *assorted; ++i)
        num(assorted[i].value, assorted[i].format);

    static const struct {
        int id;
        double value;
    } builtins[] = {{0, 1234.5678},
                    {1, 1234.5678},
                    {2, 1234.5678},
                    {3, 1234.5678},
                    {4, 1234.5678},
                    {9, 0.1234},
                    {10, 0.1234},
                    {11, 1234.5678},
                    {12, 1.25},
                    {13, 3.14159},
                    {14, 45000.5},
                    {15, 45000.5},
                    {16, 45000.5},
                    {17, 45000.5},
                    {18, 56531.0 / 86400},
                    {19, 56531.0 / 86400},
                    {20, 56531.0 / 86400},
                    {21, 56531.0 / 86400},
                    {22, 45000 + 56531.0 / 86400},
                    {45, 56531.0 / 86400},
                    {46, 1 + 56531.0 / 86400},
                    {47, 0.00123},
                    {48, 12345.678},
                    {49, 1234.5678},
                    {1, -1234.5678},
                    {3, -1234.5678},
                    {12, -0.75},
                    {14, 1},
                    {20, 1.75},
                    {46, 0.99999999}};
    for (size_t i = 0; i < sizeof builtins / sizeof *builtins; ++i) {
        char format[32];
        snprintf(format, sizeof format, "builtin:%d", builtins[i].id);
        num(builtins[i].value, format);
    }

    static const char* textFormats[] = {
        "0;0;0;\"pre \"@\" post\"", "@",   "\"x\"@\"y\"", "0.00;@",    "0.00",
        "0;-0;0;\"fixed\"",         "@_)", "builtin:44",  "builtin:49"};
    for (size_t i = 0; i < sizeof textFormats / sizeof *textFormats; ++i) {
        text("abc", textFormats[i]);
        text("12", textFormats[i]);
    }
}

static void build_1904(void) {
    static const char* dates[] = {"m/d/yyyy", "yyyy-mm-dd hh:mm", "dddd", "General", "[h]:mm"};
    static const double values[] = {0, 1, 59, 60, 366, 1462.5, 43538.25, 1.5};
    GRID(dates, values);
}

/* ---- writing ---- */

static int write_book(const char* path, const char* sheetName, size_t first, size_t last) {
    lxw_workbook* book = workbook_new(path);
    if (!book)
        return 1;
    lxw_worksheet* sheet = workbook_add_worksheet(book, sheetName);
    lxw_format* asText = workbook_add_format(book);
    format_set_num_format(asText, "@");
    for (size_t i = first; i < last; ++i) {
        const Case* c = &cases[i];
        lxw_row_t row = (lxw_row_t)(i - first);
        lxw_format* format = workbook_add_format(book);
        if (strncmp(c->format, "builtin:", 8) == 0)
            format_set_num_format_index(format, (uint8_t)atoi(c->format + 8));
        else
            format_set_num_format(format, c->format);
        char raw[80];
        if (c->isText) {
            worksheet_write_string(sheet, row, 0, c->text, format);
            snprintf(raw, sizeof raw, "text:%s", c->text);
        } else {
            worksheet_write_number(sheet, row, 0, c->value, format);
            snprintf(raw, sizeof raw, "%.17g", c->value);
        }
        worksheet_write_string(sheet, row, 1, c->format, asText);
        worksheet_write_string(sheet, row, 2, raw, asText);
    }
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}

/* ---- merging ---- */

/* One record of a TAB separated export whose fields may be quoted ("" inside quotes is one "). */
static int read_record(FILE* in, char fields[][256], int maxFields) {
    int count = 0, c = fgetc(in);
    if (c == EOF)
        return -1;
    for (;;) {
        char* out = fields[count];
        size_t n = 0;
        if (c == '"') {
            for (;;) {
                c = fgetc(in);
                if (c == EOF)
                    break;
                if (c == '"') {
                    c = fgetc(in);
                    if (c != '"')
                        break;
                }
                if (n < 255)
                    out[n++] = (char)c;
            }
        } else {
            while (c != EOF && c != '\t' && c != '\n' && c != '\r') {
                if (n < 255)
                    out[n++] = (char)c;
                c = fgetc(in);
            }
        }
        out[n] = 0;
        if (count < maxFields - 1)
            ++count;
        if (c == '\t') {
            c = fgetc(in);
            continue;
        }
        if (c == '\r')
            c = fgetc(in);
        return count;
    }
}

static int merge(const char* path, int date1904, size_t first, size_t last) {
    FILE* in = fopen(path, "r");
    if (!in) {
        fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    char fields[4][256];
    size_t i = first;
    int count;
    while ((count = read_record(in, fields, 4)) >= 0 && i < last) {
        const Case* c = &cases[i];
        if (count < 3 || strcmp(fields[1], c->format) != 0) {
            fprintf(stderr, "%s: row %zu shows format \"%s\", expected \"%s\"\n", path,
                    i - first + 1, count >= 2 ? fields[1] : "", c->format);
            fclose(in);
            return 1;
        }
        if (c->isText)
            printf("%s\t%d\t%s\t%s\n", fields[2], date1904, c->format, fields[0]);
        else
            printf("%.17g\t%d\t%s\t%s\n", c->value, date1904, c->format, fields[0]);
        ++i;
    }
    fclose(in);
    if (i != last) {
        fprintf(stderr, "%s: %zu rows, expected %zu\n", path, i - first, last - first);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    build_1900();
    size_t split = caseCount;
    build_1904();
    if (argc == 3 && strcmp(argv[1], "write") == 0) {
        char path[4096];
        snprintf(path, sizeof path, "%s/numfmt.xlsx", argv[2]);
        if (write_book(path, "cases1900", 0, split))
            return 1;
        snprintf(path, sizeof path, "%s/numfmt1904.xlsx", argv[2]);
        return write_book(path, "cases1904", split, caseCount);
    }
    if (argc == 4 && strcmp(argv[1], "merge") == 0)
        return merge(argv[2], 0, 0, split) || merge(argv[3], 1, split, caseCount);
    fprintf(stderr, "usage: make-cases write DIR | make-cases merge SHOWN1900.csv SHOWN1904.csv\n");
    return 2;
}
