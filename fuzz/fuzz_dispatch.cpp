// The application server's dispatch: the input is a request payload as the wire carries it
// (any server, method, argument count and argument types), run in process against an SQLite
// store made once with demo notes. Every request gets a reply that can go back on the wire, and
// every packet a successful reply carries is a packet.

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

#include "clock.h"
#include "companydb.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "fuzzcheck.h"
#include "methods.h"
#include "net/wire.h"
#include "store.h"

namespace {

namespace wire = host::wire;

// Demo notes in the store: enough for every method to find something, few enough to answer
// fast. The seed generator makes its requests over the same number.
constexpr int kDemoNotes = 40;

dfe58000::Store* g_store = nullptr;

void checkPackets(const QVariant& v) {
    if (v.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = v.toByteArray();
        if (bytes.isEmpty()) {
            return;
        }
        try {
            host::decodePacket(bytes);
        } catch (const host::EPacketError& e) {
            fuzz::fail("the reply carries a byte string that is not a packet", e.text());
        }
    } else if (v.typeId() == QMetaType::QVariantList) {
        for (const QVariant& item : v.toList()) {
            checkPackets(item);
        }
    }
}

}  // namespace

// The signer keeps the keys it has read for the life of the process, and lets them go only with
// it: leaks are looked for after each input instead of at exit.
extern "C" const char* __asan_default_options() {
    return "leak_check_at_exit=0";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir dir;
    if (!dir.isValid()) {
        fuzz::fail("no temporary directory");
    }
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("fuzz.db"));
    companydb::ensureDatabase(url, kDemoNotes, {dfe58000::storeSchema()});
    static dfe58000::Store store(url);
    // Each input's writes need not survive a crash of the machine.
    QSqlQuery(store.database()).exec(QStringLiteral("PRAGMA synchronous = OFF"));
    store.setClock(std::make_shared<dfe58000::FixedClock>(QDateTime::currentDateTime()));
    g_store = &store;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wire::Request request;
    try {
        request =
            wire::decodeRequest(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    } catch (const host::ENetError&) {
        return 0;
    }
    // The hourly download limit would soon refuse every download: each input starts afresh.
    QSqlQuery(g_store->database()).exec(QStringLiteral("DELETE FROM DOWNLOADLOG"));

    const wire::Reply reply = dfe58000::dispatch(*g_store, request);
    try {
        (void)wire::replyFrame(reply);
    } catch (const host::ENetError& e) {
        fuzz::fail("the reply cannot be sent", e.text());
    }
    if (reply.ok) {
        checkPackets(reply.result);
    } else {
        fuzz::check(!reply.error.isEmpty(), "an error reply without its text");
    }
    return 0;
}
