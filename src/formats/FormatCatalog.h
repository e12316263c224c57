#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace vorlin::formats {

// The object behind each row of a format chooser list.
struct TItemInfo {
    bool IsFormatRow = false;
    bool IsGroupRow = false;
    bool Collapsed = false; // category rows only: its format rows are not in the list
    int32_t Code = 0;       // category row: the category index; format row: the format code
};

inline constexpr int kCategoryCount = 3;

// Row text of a category (0, 1, 2); empty for any other index.
QString categoryText(int category);

// Row text of the format at a position of a category; empty when there is no such format.
QString formatText(int category, int position);

// Row text of a format code (category * 100 + position); empty for unknown codes.
QString formatTextOfCode(int code);

// Every format code of the catalogue, in list order.
const std::array<int, 19>& formatCodes();

// A chooser's own copy of the catalogue: row texts by category and position, an empty text
// meaning no row. The capacity leaves room for more categories and formats than exist.
class CatalogueTable {
public:
    static constexpr int kCapacity = 51;

    void clear();
    // Copies the texts of one category (its row text and its formats) into the table.
    void fill(int category);
    QString text(int category, int position) const;
    QString categoryRow(int category) const;

private:
    std::array<std::array<QString, kCapacity>, kCapacity> formats_{};
    std::array<QString, kCapacity> categories_{};
};

} // namespace vorlin::formats
