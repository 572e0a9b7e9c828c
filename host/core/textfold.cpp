#include "core/textfold.h"

#include <memory>

namespace host {

namespace {

const char16_t* foldTable() {
    static const std::unique_ptr<char16_t[]> table = []() {
        std::unique_ptr<char16_t[]> t(new char16_t[0x10000]);
        for (int c = 0; c < 0x10000; ++c) {
            QChar ch = QChar(char16_t(c));
            if (ch.isSurrogate()) {
                t[c] = char16_t(c);
                continue;
            }
            // Strip the accent: the first character of the (canonical or compatibility)
            // decomposition, when that is a letter or digit.
            if (ch.decompositionTag() != QChar::NoDecomposition) {
                const QString dec = ch.decomposition();
                if (!dec.isEmpty() && !dec[0].isSurrogate() && dec[0].isLetterOrNumber()) {
                    ch = dec[0];
                }
            }
            const char32_t folded = QChar::toCaseFolded(char32_t(ch.unicode()));
            t[c] = folded < 0x10000 ? char16_t(folded) : ch.unicode();
        }
        return t;
    }();
    return table.get();
}

}  // namespace

char16_t foldChar(char16_t c) {
    return foldTable()[c];
}

void foldAppend(const QString& s, std::vector<char16_t>& out) {
    const char16_t* t = foldTable();
    const char16_t* p = reinterpret_cast<const char16_t*>(s.constData());
    const qsizetype n = s.size();
    out.reserve(out.size() + size_t(n));
    for (qsizetype i = 0; i < n; ++i) {
        out.push_back(t[p[i]]);
    }
}

QString foldText(const QString& s) {
    const char16_t* t = foldTable();
    QString out(s.size(), Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    const char16_t* p = reinterpret_cast<const char16_t*>(s.constData());
    for (qsizetype i = 0; i < s.size(); ++i) {
        o[i] = t[p[i]];
    }
    return out;
}

int foldCompare(const QString& a, const QString& b) {
    const char16_t* t = foldTable();
    const char16_t* pa = reinterpret_cast<const char16_t*>(a.constData());
    const char16_t* pb = reinterpret_cast<const char16_t*>(b.constData());
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = t[pa[i]];
        const char16_t cb = t[pb[i]];
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace host
