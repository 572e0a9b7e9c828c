#pragma once

// What the fuzz targets share: a failed property stops the run like a crash, with a message the
// fuzzer's report keeps beside the input.

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "fuzz property broken: %s %s\n", what, qPrintable(detail));
    std::abort();
}

inline void check(bool ok, const char* what, const QString& detail = QString()) {
    if (!ok) {
        fail(what, detail);
    }
}

}  // namespace fuzz
