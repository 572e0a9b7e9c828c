#pragma once

// The definition of one field: what a data packet declares for each column and what a data
// set's fields are made from. The packet codec, the application server and the contract's
// records need only this, not the data set.

#include <QString>

namespace host {

// Types a data packet carries. String is a sized text (fixed = padded width, as the old
// toolkit's fixed-char fields); Memo is text of any length.
enum class FieldType : quint8 {
    String = 1,
    Memo = 2,
    Integer = 3,
    Float = 4,
    Boolean = 5,
    Date = 6,
    DateTime = 7,
};

struct FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0;        // characters, for String; 0 otherwise
    bool fixed = false;  // fixed-width String
    bool operator==(const FieldDef&) const = default;
};

}  // namespace host
