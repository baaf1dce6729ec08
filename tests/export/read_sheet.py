#!/usr/bin/python3
"""Prints what openpyxl finds in a workbook: "sheets N", the used range one row a line
(TAB-separated; a value that is not text as <type value>), then the block of cells framed by a
thin border in the automatic colour ("borders A1:H4")."""
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def bordered(cell):
    sides = (cell.border.left, cell.border.right, cell.border.top, cell.border.bottom)
    return all(s.style == "thin" and (s.color is None or s.color.auto) for s in sides)


def shown(value):
    return "" if value is None else value if isinstance(value, str) else f"<{type(value).__name__} {value}>"


book = openpyxl.load_workbook(sys.argv[1])
sheet = book.active
rows, columns = sheet.max_row, sheet.max_column
print(f"sheets {len(book.worksheets)}")
for row in sheet.iter_rows(max_row=rows, max_col=columns):
    print("\t".join(shown(cell.value) for cell in row))
# One row and one column past the used range, to see that the borders stop there.
cells = {(r, c) for r in range(1, rows + 2) for c in range(1, columns + 2) if bordered(sheet.cell(r, c))}
if not cells:
    print("borders none")
else:
    top, left = min(r for r, _ in cells), min(c for _, c in cells)
    bottom, right = max(r for r, _ in cells), max(c for _, c in cells)
    whole = cells == {(r, c) for r in range(top, bottom + 1) for c in range(left, right + 1)}
    name = f"{get_column_letter(left)}{top}:{get_column_letter(right)}{bottom}"
    print(f"borders {'' if whole else 'irregular '}{name}")
