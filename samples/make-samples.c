/* Writes the sample workbooks that come with Gridquest: a small office's price list, address
 * list, sales report and inventory. make-samples converts them to .xls and .ods. */
#include <stdio.h>
#include <xlsxwriter.h>

static lxw_format* Format(lxw_workbook* workbook, const char* code, int bold) {
    lxw_format* format = workbook_add_format(workbook);
    if (code)
        format_set_num_format(format, code);
    if (bold)
        format_set_bold(format);
    return format;
}

static void Header(lxw_worksheet* sheet, lxw_format* bold, const char** titles, int count) {
    for (int col = 0; col < count; ++col)
        worksheet_write_string(sheet, 0, col, titles[col], bold);
}

static int PriceList(const char* dir) {
    char path[512];
    snprintf(path, sizeof path, "%s/Price List 2024.xlsx", dir);
    lxw_workbook* workbook = workbook_new(path);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Prices");
    lxw_format* bold = Format(workbook, NULL, 1);
    lxw_format* money = Format(workbook, "$#,##0.00", 0);
    const char* titles[] = {"Item No.", "Description", "Unit", "Unit Price", "In Stock"};
    Header(sheet, bold, titles, 5);
    const char* items[][3] = {
        {"Green tea, loose leaf", "250 g", "8.95"},   {"Earl Grey tea bags", "box of 50", "5.49"},
        {"Coffee beans, dark roast", "1 kg", "18.50"}, {"Sea salt crackers", "pack", "2.35"},
        {"Peanut butter, creamy", "jar 500 g", "4.20"}, {"Bread flour", "2 kg", "3.80"},
        {"Cream cheese", "tub 200 g", "2.99"},         {"Pears, Bartlett", "per kg", "3.10"},
        {"Oatmeal cookies", "box of 12", "4.75"},      {"Sparkling water", "case of 24", "9.60"},
        {"Breakfast cereal", "750 g", "4.45"},         {"Wheat crackers", "pack", "2.60"},
    };
    for (int row = 0; row < 12; ++row) {
        worksheet_write_number(sheet, row + 1, 0, 1001 + row, NULL);
        worksheet_write_string(sheet, row + 1, 1, items[row][0], NULL);
        worksheet_write_string(sheet, row + 1, 2, items[row][1], NULL);
        double price = 0;
        sscanf(items[row][2], "%lf", &price);
        worksheet_write_number(sheet, row + 1, 3, price, money);
        worksheet_write_boolean(sheet, row + 1, 4, row % 4 != 3, NULL);
    }
    worksheet_set_column(sheet, 1, 1, 28, NULL);
    return workbook_close(workbook);
}

static int AddressList(const char* dir) {
    char path[512];
    snprintf(path, sizeof path, "%s/Customer Addresses.xlsx", dir);
    lxw_workbook* workbook = workbook_new(path);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Customers");
    lxw_format* bold = Format(workbook, NULL, 1);
    const char* titles[] = {"Name", "Street", "City", "Postcode", "Phone", "E-mail"};
    Header(sheet, bold, titles, 6);
    const char* people[][6] = {
        {"Heather Reed", "12 Meadow Lane", "Leeds", "LS6 2QT", "0113 496 0123", "h.reed@example.com"},
        {"Dean Walsh", "4 Beacon Street", "Bristol", "BS1 4DJ", "0117 496 0456", "dean.walsh@example.com"},
        {"Jean Martin", "27 Rue des Lilas", "Lyon", "69003", "+33 4 72 00 11 22", "jean.martin@example.fr"},
        {"Sean O'Leary", "8 Seaview Road", "Cork", "T12 X2E7", "+353 21 496 0789", "sean@example.ie"},
        {"Leah Brennan", "91 Oak Avenue", "Dublin", "D04 K7W2", "+353 1 496 0321", "leah.b@example.ie"},
        {"Anna Fischer", "Lindenstraße 5", "Köln", "50674", "+49 221 4960 55", "anna.fischer@example.de"},
        {"Mark Lee", "300 Pearl Street", "Boston", "02110", "+1 617 555 0142", "mark.lee@example.com"},
        {"Bea Kowalski", "ul. Ogrodowa 14", "Kraków", "31-155", "+48 12 496 0987", "bea.k@example.pl"},
    };
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 6; ++col)
            worksheet_write_string(sheet, row + 1, col, people[row][col], NULL);
    worksheet_set_column(sheet, 0, 5, 20, NULL);
    return workbook_close(workbook);
}

static int SalesReport(const char* dir) {
    char path[512];
    snprintf(path, sizeof path, "%s/Sales Report Q1.xlsx", dir);
    lxw_workbook* workbook = workbook_new(path);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Q1 Sales");
    lxw_format* bold = Format(workbook, NULL, 1);
    lxw_format* date = Format(workbook, "yyyy-mm-dd", 0);
    lxw_format* money = Format(workbook, "#,##0.00 [$EUR]", 0);
    lxw_format* percent = Format(workbook, "0.0%", 0);
    const char* titles[] = {"Date", "Region", "Sales Rep", "Product", "Amount", "Margin"};
    Header(sheet, bold, titles, 6);
    const char* regions[] = {"North East", "South East", "Great Lakes", "Pacific Northwest"};
    const char* reps[] = {"Heather Reed", "Dean Walsh", "Leah Brennan", "Mark Lee"};
    const char* products[] = {"Green tea", "Coffee beans", "Bread flour", "Cream cheese", "Pears"};
    for (int row = 0; row < 40; ++row) {
        worksheet_write_number(sheet, row + 1, 0, 45292 + row * 2, date); /* from 2024-01-01 */
        worksheet_write_string(sheet, row + 1, 1, regions[row % 4], NULL);
        worksheet_write_string(sheet, row + 1, 2, reps[(row / 3) % 4], NULL);
        worksheet_write_string(sheet, row + 1, 3, products[row % 5], NULL);
        worksheet_write_number(sheet, row + 1, 4, 250 + (row * 137) % 1900 + 0.5 * (row % 3), money);
        worksheet_write_number(sheet, row + 1, 5, 0.12 + (row % 7) * 0.015, percent);
    }
    worksheet_write_string(sheet, 42, 3, "Total", bold);
    worksheet_write_formula_num(sheet, 42, 4, "=SUM(E2:E41)", money, 40980.5);
    worksheet_set_column(sheet, 0, 5, 16, NULL);
    return workbook_close(workbook);
}

static int Inventory(const char* dir) {
    char path[512];
    snprintf(path, sizeof path, "%s/Warehouse Inventory.xlsx", dir);
    lxw_workbook* workbook = workbook_new(path);
    lxw_format* bold = Format(workbook, NULL, 1);
    lxw_format* date = Format(workbook, "d mmm yyyy", 0);
    const char* titles[] = {"SKU", "Item", "Location", "Quantity", "Last Counted"};
    const char* sheets[] = {"Main Warehouse", "East Depot", "Returns"};
    const char* items[] = {"Tea kettle, steel", "Beach umbrella", "Desk lamp", "Heater, 2 kW",
                           "Measuring tape", "Safety gear set", "Bean bag chair", "Cleaning wipes"};
    for (int s = 0; s < 3; ++s) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, sheets[s]);
        Header(sheet, bold, titles, 5);
        for (int row = 0; row < 8 - s * 2; ++row) {
            char sku[32], location[32];
            snprintf(sku, sizeof sku, "SKU-%d%03d", s + 1, row * 7 + 11);
            snprintf(location, sizeof location, "Aisle %c, shelf %d", 'A' + row % 4, row % 3 + 1);
            worksheet_write_string(sheet, row + 1, 0, sku, NULL);
            worksheet_write_string(sheet, row + 1, 1, items[(row + s) % 8], NULL);
            worksheet_write_string(sheet, row + 1, 2, location, NULL);
            worksheet_write_number(sheet, row + 1, 3, (row * 13 + s * 5) % 60, NULL);
            worksheet_write_number(sheet, row + 1, 4, 45400 + row * 3 + s, date);
        }
        worksheet_set_column(sheet, 0, 4, 18, NULL);
    }
    return workbook_close(workbook);
}

int main(int argc, char** argv) {
    const char* dir = argc > 1 ? argv[1] : ".";
    return PriceList(dir) || AddressList(dir) || SalesReport(dir) || Inventory(dir);
}
