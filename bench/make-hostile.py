#!/usr/bin/env python3
"""Writes crafted hostile workbooks into a folder: small files that cost a careless reader
gigabytes or minutes. bench/hostile runs gridquest-find on each."""
import os
import sys
import zipfile

CT = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
      '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
      '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
      '<Default Extension="xml" ContentType="application/xml"/>'
      '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
      '</Types>')
ROOT_RELS = ('<?xml version="1.0" encoding="UTF-8"?>'
             '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
             '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
             '</Relationships>')
MAIN = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
RELTYPE = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'


class Chunks:
    """A part made of pieces, some repeated many times, written without building it whole."""

    def __init__(self, *pieces):
        self.pieces = list(pieces)  # str, or (str, count)

    def write(self, out):
        for piece in self.pieces:
            text, count = (piece, 1) if isinstance(piece, str) else piece
            data = text.encode()
            if count > 1 and len(data) < 1 << 16:
                block = data * max(1, (1 << 20) // len(data))
                per = (1 << 20) // len(data) or 1
                while count >= per:
                    out.write(block)
                    count -= per
            for _ in range(count):
                out.write(data)


def write_zip(path, parts):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, content in parts:
            with z.open(name, 'w', force_zip64=True) as out:
                if isinstance(content, Chunks):
                    content.write(out)
                else:
                    out.write(content.encode())


def xlsx(path, sheets, shared=None, styles=None, workbook_extra=''):
    """sheets: list of (name, sheetData Chunks or str)."""
    rels = ['<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">']
    entries = []
    parts = [('[Content_Types].xml', CT), ('_rels/.rels', ROOT_RELS)]
    for i, (name, data) in enumerate(sheets, 1):
        rels.append(f'<Relationship Id="rId{i}" Type="{RELTYPE}worksheet" Target="worksheets/sheet{i}.xml"/>')
        entries.append(f'<sheet name="{name}" sheetId="{i}" r:id="rId{i}"/>')
        body = data if isinstance(data, Chunks) else Chunks(data)
        parts.append((f'xl/worksheets/sheet{i}.xml',
                      Chunks(f'<worksheet xmlns="{MAIN}"><sheetData>', *body.pieces, '</sheetData></worksheet>')))
    n = len(sheets)
    if shared is not None:
        rels.append(f'<Relationship Id="rId{n + 1}" Type="{RELTYPE}sharedStrings" Target="sharedStrings.xml"/>')
        parts.append(('xl/sharedStrings.xml', Chunks(f'<sst xmlns="{MAIN}">', *shared.pieces, '</sst>')))
    if styles is not None:
        rels.append(f'<Relationship Id="rId{n + 2}" Type="{RELTYPE}styles" Target="styles.xml"/>')
        parts.append(('xl/styles.xml', Chunks(f'<styleSheet xmlns="{MAIN}">', *styles.pieces, '</styleSheet>')))
    rels.append('</Relationships>')
    parts.append(('xl/_rels/workbook.xml.rels', ''.join(rels)))
    parts.append(('xl/workbook.xml', f'<workbook xmlns="{MAIN}" xmlns:r="{REL}">{workbook_extra}<sheets>{"".join(entries)}</sheets></workbook>'))
    write_zip(path, parts)


def ods(path, tables):
    head = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">'
            '<office:body><office:spreadsheet>')
    pieces = [head]
    for table in tables:
        pieces.extend(table)
    pieces.append('</office:spreadsheet></office:body></office:document-content>')
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet')
        z.writestr('META-INF/manifest.xml',
                   '<?xml version="1.0" encoding="UTF-8"?><manifest:manifest '
                   'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">'
                   '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
                   '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                   '</manifest:manifest>')
        with z.open('content.xml', 'w', force_zip64=True) as out:
            Chunks(*pieces).write(out)


def repeated_table(name, text='tea'):
    return [f'<table:table table:name="{name}"><table:table-row table:number-rows-repeated="999999999">'
            f'<table:table-cell table:number-columns-repeated="999999999" office:value-type="string">'
            f'<text:p>{text}</text:p></table:table-cell></table:table-row></table:table>']


def main(folder):
    os.makedirs(folder, exist_ok=True)
    at = lambda name: os.path.join(folder, name)
    mib = 1 << 20

    # One 1 MiB shared string referenced by 12,000 cells.
    cells = Chunks(*[f'<row r="{r}">' + ''.join(
        f'<c r="{col}{r}" t="s"><v>0</v></c>' for col in 'ABCDEFGHIJKL') + '</row>'
        for r in range(1, 1001)])
    xlsx(at('sst-1mib-x12000.xlsx'), [('S', cells)], shared=Chunks('<si><t>tea', ('a', mib), '</t></si>'))
    # One shared string of 600 MB, and of 1.5 GB.
    for size, label in ((600_000_000, '600mb'), (1_500_000_000, '1500mb')):
        xlsx(at(f'sst-one-{label}.xlsx'), [('S', '<row r="1"><c r="A1" t="s"><v>0</v></c></row>')],
             shared=Chunks('<si><t>tea', ('a', size), '</t></si>'))
    # The same weight in an inline string and in a value of the sheet part itself.
    xlsx(at('inline-600mb.xlsx'), [('S', Chunks('<row r="1"><c r="A1" t="inlineStr"><is><t>tea',
                                               ('b', 600_000_000), '</t></is></c></row>'))])
    xlsx(at('value-600mb.xlsx'), [('S', Chunks('<row r="1"><c r="A1"><v>1', ('0', 600_000_000),
                                              '</v></c></row>'))])
    # Many cells of one shared string of a cell's full length, across 1,000 rows of 16 columns.
    xlsx(at('sst-32k-x16000.xlsx'),
         [('S', Chunks(('<row>' + '<c t="s"><v>0</v></c>' * 16 + '</row>', 1000)))],
         shared=Chunks('<si><t>', ('tea ', 8191), '</t></si>'))
    # A million cell styles, each with a format code of 4,000 characters.
    xlsx(at('styles-1m-xfs.xlsx'), [('S', '<row r="1"><c r="A1" s="999999"><v>1</v></c></row>')],
         styles=Chunks('<numFmts count="1"><numFmt numFmtId="164" formatCode="0&quot;tea', ('x', 3990),
                       '&quot;"/></numFmts><cellXfs>', ('<xf numFmtId="164"/>', 1_000_000), '</cellXfs>'))
    # A format code that writes 1 MB of literal for each of 12,000 numbers.
    xlsx(at('format-1mb-literal.xlsx'),
         [('S', Chunks(('<row><c s="0"><v>1</v></c><c s="0"><v>2</v></c><c s="0"><v>3</v></c></row>', 4000)))],
         styles=Chunks('<numFmts count="1"><numFmt numFmtId="164" formatCode="0&quot;tea', ('x', mib),
                       '&quot;"/></numFmts><cellXfs><xf numFmtId="164"/></cellXfs>'))
    # 200,000 sheets: a quadratic match of sheets to their relationships would run for hours.
    rels = ''.join(f'<Relationship Id="rId{i}" Type="{RELTYPE}worksheet" Target="worksheets/sheet1.xml"/>'
                   for i in range(200_000))
    entries = ''.join(f'<sheet name="S{i}" sheetId="{i + 1}" r:id="rId{i}"/>' for i in range(200_000))
    write_zip(at('sheets-200k.xlsx'), [
        ('[Content_Types].xml', CT), ('_rels/.rels', ROOT_RELS),
        ('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' + rels + '</Relationships>'),
        ('xl/workbook.xml', f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>{entries}</sheets></workbook>'),
        ('xl/worksheets/sheet1.xml', f'<worksheet xmlns="{MAIN}"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>tea</t></is></c></row></sheetData></worksheet>')])
    # Elements nested a million deep.
    xlsx(at('nested-1m.xlsx'), [('S', Chunks(('<x>', 1_000_000), ('</x>', 1_000_000)))])
    # Rows repeated 999,999,999 times, each a cell repeated 999,999,999 times; one sheet, and 50.
    ods(at('repeat-1-sheet.ods'), [repeated_table('S')])
    ods(at('repeat-50-sheets.ods'), [repeated_table(f'S{i}') for i in range(50)])
    # Rows repeated with a cell of 32,767 characters in each of 16,384 columns.
    ods(at('repeat-long-text.ods'), [repeated_table('S', 'tea' * 10922)])
    # A space count of a billion inside one paragraph.
    ods(at('spaces-1g.ods'), [['<table:table table:name="S"><table:table-row><table:table-cell '
                               'office:value-type="string"><text:p>tea<text:s text:c="999999999"/>'
                               '</text:p></table:table-cell></table:table-row></table:table>']])


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'hostile')
