// Every date-time the suite handles is a naive local one, and Qt converts local times through
// the C library. With TZ unset, glibc checks /etc/localtime again on every conversion, which
// made loading and editing large lists of notes several times slower. Naming the zone file
// once keeps the same zone and lets the C library cache it. This runs when the library is
// loaded, before main and while the program is still single-threaded, and only when TZ is
// unset.
#include <QByteArray>
#include <QtGlobal>

namespace {

const bool kZoneFileNamed = [] {
    if (!qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", ":/etc/localtime");
    }
    return true;
}();

}  // namespace
