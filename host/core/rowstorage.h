#pragma once

// How a data set keeps its rows: every row is an array of 64-bit slots (the null bits, then
// one slot per field), loaded rows sit side by side in large blocks, and the texts of each
// column live in a pool of their own. Private to the data set's sources.

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <bit>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/fielddef.h"

namespace host::rows {

using Slot = quint64;

inline double slotDouble(Slot s) {
    return std::bit_cast<double>(s);
}
inline Slot doubleSlot(double d) {
    return std::bit_cast<Slot>(d);
}

inline bool isText(FieldType t) {
    return t == FieldType::String || t == FieldType::Memo;
}

// Memory in blocks of kBlockSlots slots, for the rows a packet loads and the texts they keep
// as bytes. A data set that lets its rows go gives the blocks back to its thread, which keeps
// up to kKeptBlocks of them for the next load: loading packets of tens of thousands of notes
// one after the other then writes into memory already in place (a fresh page costs a fault
// the first time it is written), and tens of thousands of rows cost a few hundred
// allocations instead of one each.
class Blocks {
  public:
    static constexpr size_t kBlockSlots = 8192;  // 64 KiB, which malloc serves from its heap
    static constexpr size_t kKeptBlocks = 768;   // 48 MiB

    static std::unique_ptr<Slot[]> take();
    static void giveBack(std::vector<std::unique_ptr<Slot[]>>& blocks);
};

// A row: its own allocation (a row inserted by the user), or a place in a block of the rows a
// packet loaded, which the data set gives back as a whole.
struct RowRelease {
    bool owned = true;
    void operator()(Slot* row) const {
        if (owned) {
            delete[] row;
        }
    }
};
using RowPtr = std::unique_ptr<Slot[], RowRelease>;

// The strings of one column. Equal strings share one entry (and one QString) while sharing
// pays: short codes always, longer texts as long as enough of them repeat. A cell holds the
// entry's number, so a row costs 8 bytes per field whatever its texts.
struct StringPool {
    // The text of each entry.
    mutable std::vector<QString> strings;
    // Texts a packet brought that do not repeat are not entries: their cell holds kBytes and
    // the address of their length (4 bytes) and UTF-8 bytes (checked when loaded) in one of
    // the pool's blocks, and their QString is made the first time they are read. Most of the
    // keys and numbers of a large answer are never shown, sorted or filtered on, and cost no
    // QString and no entry.
    static constexpr Slot kBytes = Slot(1) << 63;
    std::vector<std::unique_ptr<Slot[]>> blocks;  // the bytes (Blocks)
    std::vector<std::unique_ptr<char[]>> large;   // bytes too long for a block
    size_t blockUsed = Blocks::kBlockSlots * sizeof(Slot);
    mutable std::unordered_map<const char*, QString> made;  // the texts of bytes read so far
    QHash<QString, quint32> index;
    bool interning = true;
    quint32 lookups = 0;
    quint32 hits = 0;

    static constexpr int kAlwaysShared = 4;  // codes like "N", "01", "0001"
    static constexpr quint32 kProbe = 4096;  // strings seen before deciding
    static constexpr quint32 kMinHitsPerProbe = kProbe / 4;

    quint32 add(QString&& s);
    quint32 add(const QString& s) { return add(QString(s)); }
    // A text of its own, never shared (one that did not repeat, decoded from bytes).
    quint32 addUnshared(QString&& s) {
        strings.push_back(std::move(s));
        return quint32(strings.size() - 1);
    }

    // The cell of a text given as UTF-8 bytes already known to be valid (see kBytes).
    Slot addBytes(QByteArrayView utf8);

    // The text of a cell: an entry, or bytes.
    const QString& text(Slot cell) const {
        if (!(cell & kBytes)) {
            return strings[size_t(cell)];
        }
        return textOfBytes(cell);
    }

    // The cell as an entry (a cell of bytes becomes one).
    Slot entry(Slot cell) const;

    // Gives the blocks of the bytes back (see Blocks).
    void releaseBlocks();
    void clear();

  private:
    const QString& textOfBytes(Slot cell) const;
};

}  // namespace host::rows
