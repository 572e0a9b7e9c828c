// dfe58000-call: calls one method of the application server from the command line and prints
// its result as JSON. Exit status 0 when a result came back.

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cstdio>

#include "core/hosterror.h"
#include "jsonvalues.h"
#include "methods.h"
#include "net/netconnection.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "uso: dfe58000-call --server HOST:PORTA METODO 'ARGUMENTOS-JSON'\n"
                 "  exemplo: dfe58000-call --server 127.0.0.1:7000 getCarregaPesquisas "
                 "'[\"01\"]'\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString server;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"--server" && i + 1 < args.size()) {
            server = args[++i];
        } else if (args[i].startsWith(QStringLiteral("--server="))) {
            server = args[i].mid(9);
        } else if (args[i] == u"--help" || args[i] == u"-h") {
            return usage();
        } else {
            positional << args[i];
        }
    }
    if (server.isEmpty() || positional.isEmpty() || positional.size() > 2) {
        return usage();
    }
    const int colon = server.lastIndexOf(u':');
    bool portOk = false;
    const int port = colon > 0 ? server.mid(colon + 1).toInt(&portOk) : 0;
    if (!portOk || port <= 0 || port > 65535) {
        std::fprintf(stderr, "dfe58000-call: --server inválido: \"%s\" (use HOST:PORTA)\n",
                     server.toLocal8Bit().constData());
        return 2;
    }
    try {
        const QVariantList callArgs = dfe58000::json::argumentsFromJson(
            positional.size() > 1 ? positional[1].toUtf8() : QByteArray("[]"));
        host::TNetConnection net;
        net.SetServerName(QString::fromLatin1(dfe58000::kServerName));
        net.SetHost(server.left(colon));
        net.SetPort(port);
        const QVariant result = net.AppServer(positional[0], callArgs);
        const QJsonValue json = dfe58000::json::resultToJson(result);
        QByteArray out;
        if (json.isArray()) {
            out = QJsonDocument(json.toArray()).toJson(QJsonDocument::Indented);
        } else if (json.isObject()) {
            out = QJsonDocument(json.toObject()).toJson(QJsonDocument::Indented);
        } else {
            out = QJsonDocument(QJsonArray{json}).toJson(QJsonDocument::Compact).mid(1).chopped(1) +
                  '\n';
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        return 0;
    } catch (const host::EHostError& e) {
        std::fprintf(stderr, "dfe58000-call: %s\n", e.text().toLocal8Bit().constData());
        return 1;
    }
}
