#include "core/rowstorage.h"

#include <QStringDecoder>
#include <cstring>

namespace host::rows {

namespace {

struct Kept {
    std::vector<std::unique_ptr<Slot[]>> blocks;
    ~Kept();
};

thread_local bool keptGone = false;

Kept::~Kept() {
    keptGone = true;
}

// The thread's blocks; null once the thread is ending (a data set destroyed later, as a
// static one at exit, frees its blocks).
Kept* spares() {
    thread_local Kept kept;
    return keptGone ? nullptr : &kept;
}

}  // namespace

std::unique_ptr<Slot[]> Blocks::take() {
    Kept* kept = spares();
    if (!kept || kept->blocks.empty()) {
        return std::unique_ptr<Slot[]>(new Slot[kBlockSlots]);
    }
    std::unique_ptr<Slot[]> block = std::move(kept->blocks.back());
    kept->blocks.pop_back();
    return block;
}

void Blocks::giveBack(std::vector<std::unique_ptr<Slot[]>>& blocks) {
    if (Kept* kept = spares()) {
        for (std::unique_ptr<Slot[]>& block : blocks) {
            if (kept->blocks.size() < kKeptBlocks) {
                kept->blocks.push_back(std::move(block));
            }
        }
    }
    blocks.clear();
}

quint32 StringPool::add(QString&& s) {
    const bool share = interning || s.size() <= kAlwaysShared;
    if (!share) {
        strings.push_back(std::move(s));
        return quint32(strings.size() - 1);
    }
    ++lookups;
    auto it = index.constFind(s);
    if (it != index.cend()) {
        ++hits;
        return it.value();
    }
    const quint32 id = quint32(strings.size());
    strings.push_back(std::move(s));
    index.insert(strings.back(), id);
    if (interning && lookups == kProbe && hits < kMinHitsPerProbe) {
        // Mostly distinct texts (keys, numbers): stop paying for the hash.
        interning = false;
        index.removeIf([](const QHash<QString, quint32>::iterator& e) {
            return e.key().size() > kAlwaysShared;
        });
    }
    return id;
}

Slot StringPool::addBytes(QByteArrayView utf8) {
    const size_t need = sizeof(quint32) + size_t(utf8.size());
    const size_t blockBytes = Blocks::kBlockSlots * sizeof(Slot);
    char* at = nullptr;
    if (need > blockBytes / 4) {
        large.emplace_back(new char[need]);
        at = large.back().get();
    } else {
        if (blockUsed + need > blockBytes) {
            blocks.push_back(Blocks::take());
            blockUsed = 0;
        }
        at = reinterpret_cast<char*>(blocks.back().get()) + blockUsed;
        blockUsed += need;
    }
    const quint32 length = quint32(utf8.size());
    std::memcpy(at, &length, sizeof length);
    std::memcpy(at + sizeof length, utf8.data(), size_t(utf8.size()));
    return kBytes | Slot(quintptr(at));
}

const QString& StringPool::textOfBytes(Slot cell) const {
    const char* at = reinterpret_cast<const char*>(quintptr(cell & ~kBytes));
    auto it = made.find(at);
    if (it == made.end()) {
        quint32 length = 0;
        std::memcpy(&length, at, sizeof length);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        it = made.emplace(at, utf8.decode(QByteArrayView(at + sizeof length, length))).first;
    }
    return it->second;
}

Slot StringPool::entry(Slot cell) const {
    if (!(cell & kBytes)) {
        return cell;
    }
    strings.push_back(text(cell));
    return Slot(strings.size() - 1);
}

void StringPool::releaseBlocks() {
    Blocks::giveBack(blocks);
    blockUsed = Blocks::kBlockSlots * sizeof(Slot);
}

void StringPool::clear() {
    strings.clear();
    made.clear();
    releaseBlocks();
    large.clear();
    index.clear();
    interning = true;
    lookups = hits = 0;
}

}  // namespace host::rows
