// dfe58000-server: the application server DFE58000 with its remote module rdmManifestacao.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

#include "appserver.h"
#include "companydb.h"
#include "core/hosterror.h"
#include "store.h"

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "dfe58000-server: %s\n", text.toLocal8Bit().constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dfe58000-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Servidor de aplicação DFE58000 (rdmManifestacao)."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("Endereço e porta de escuta; porta 0 escolhe uma livre."),
                      QStringLiteral("HOST:PORTA"), QStringLiteral("127.0.0.1:0")});
    parser.addOption({QStringLiteral("db"),
                      QStringLiteral("Banco da empresa (sqlite:ARQUIVO ou postgres:CONEXAO)."),
                      QStringLiteral("URL")});
    parser.addOption({QStringLiteral("notes"),
                      QStringLiteral("Notas de demonstração de um banco novo (padrão 500)."),
                      QStringLiteral("N"), QStringLiteral("500")});
    parser.addOption({QStringLiteral("workers"),
                      QStringLiteral("Threads que atendem as chamadas (padrão 4)."),
                      QStringLiteral("N"), QStringLiteral("4")});
    parser.addOption({QStringLiteral("quiet"),
                      QStringLiteral("Não escreve a linha de cada chamada na saída de erros.")});
    parser.process(app);

    const QString listen = parser.value(QStringLiteral("listen"));
    const int colon = listen.lastIndexOf(u':');
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : -1;
    const QHostAddress address(colon > 0 ? listen.left(colon) : QString());
    if (!portOk || port < 0 || port > 65535 || address.isNull()) {
        return fail(QStringLiteral("--listen inválido: \"%1\" (use HOST:PORTA, por exemplo "
                                   "127.0.0.1:0).")
                        .arg(listen));
    }
    bool notesOk = false;
    const int notes = parser.value(QStringLiteral("notes")).toInt(&notesOk);
    if (!notesOk || notes < 0) {
        return fail(QStringLiteral("--notes inválido: \"%1\".").arg(parser.value("notes")));
    }
    bool workersOk = false;
    const int workers = parser.value(QStringLiteral("workers")).toInt(&workersOk);
    if (!workersOk || workers < 1 || workers > 64) {
        return fail(QStringLiteral("--workers inválido: \"%1\".").arg(parser.value("workers")));
    }
    const QString url = parser.isSet(QStringLiteral("db")) ? parser.value(QStringLiteral("db"))
                                                           : companydb::defaultDatabaseUrl();
    try {
        companydb::ensureDatabase(url, notes, {dfe58000::storeSchema()});
        dfe58000::AppServer server(url, workers);
        // One line per call on standard error, for the operator: time, client, method,
        // milliseconds and the answer's status or error.
        if (!parser.isSet(QStringLiteral("quiet"))) {
            server.setCallLog([](const QString& line) {
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
                std::fflush(stderr);
            });
        }
        server.listen(address, quint16(port));
        std::printf("listening on %s:%u\n", server.address().toString().toUtf8().constData(),
                    unsigned(server.port()));
        // The server authenticates no one: anybody who reaches the port can act for any
        // registration. Off loopback, the operator is told so on every start.
        if (!server.address().isLoopback()) {
            std::fprintf(stderr,
                         "aviso: o servidor escuta em %s, fora do loopback, e não autentica "
                         "clientes nem cifra a conexão; proteja a porta (firewall, VPN ou túnel "
                         "TLS).\n",
                         server.address().toString().toUtf8().constData());
        }
        std::fflush(stdout);
        return app.exec();
    } catch (const host::EHostError& e) {
        return fail(e.text());
    } catch (const std::exception& e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
}
