#include "options.h"

#include "companydb.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include "core/hosterror.h"

namespace suite {

namespace {

QDate parseDate(const QString& text) {
    for (const char* format : {"dd/MM/yyyy", "yyyy-MM-dd"}) {
        const QDate d = QDate::fromString(text.trimmed(), QLatin1String(format));
        if (d.isValid()) {
            return d;
        }
    }
    throw host::EHostError(
        QString("Data inválida em --data: \"%1\" (use dd/mm/aaaa ou aaaa-mm-dd).").arg(text));
}

QString digitsCode(const QString& option, const QString& text, int width) {
    const QString t = text.trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!digits.match(t).hasMatch() || t.size() > width) {
        throw host::EHostError(QString("Valor inválido em --%1: \"%2\" (até %3 dígitos).")
                                   .arg(option, text)
                                   .arg(width));
    }
    return t.rightJustified(width, QLatin1Char('0'));
}

void parseServer(const QString& text, host::LoginContext& login) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon > 0 ? text.mid(colon + 1).toInt(&ok) : 0;
    if (colon <= 0 || !ok || port < 0 || port > 65535) {
        throw host::EHostError(
            QString("Servidor inválido em --server: \"%1\" (use HOST:PORTA).").arg(text));
    }
    login.webUrl = text.left(colon);
    login.webPort = port;
}

QString checkDatabase(const QString& url) {
    if (url.startsWith(QLatin1String("sqlite:")) && url.size() > 7) {
        return url;
    }
    if (url.startsWith(QLatin1String("postgres:")) && url.size() > 9) {
        return url;
    }
    throw host::EHostError(
        QString("Banco de dados inválido em --db: \"%1\" (use sqlite:ARQUIVO ou postgres:CONEXÃO).")
            .arg(url));
}

}  // namespace

QString defaultDatabase() {
    return companydb::defaultDatabaseUrl();
}

QString sqliteFile(const QString& url) {
    return url.startsWith(QLatin1String("sqlite:")) ? url.mid(7) : QString();
}

Options parseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Orvanta: programa principal da suíte."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption empresa(QStringLiteral("empresa"),
                                     QStringLiteral("Empresa do login (padrão 01)."),
                                     QStringLiteral("código"), QStringLiteral("01"));
    const QCommandLineOption filial(QStringLiteral("filial"),
                                    QStringLiteral("Filial do login (padrão 0001)."),
                                    QStringLiteral("código"), QStringLiteral("0001"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Data de processamento (padrão hoje)."),
                                  QStringLiteral("dd/mm/aaaa"));
    const QCommandLineOption operador(QStringLiteral("operador"),
                                      QStringLiteral("Operador (padrão ADMIN)."),
                                      QStringLiteral("código"), QStringLiteral("ADMIN"));
    const QCommandLineOption server(
        QStringLiteral("server"),
        QStringLiteral("Servidor de aplicação HOST:PORTA (porta 0: nenhum)."),
        QStringLiteral("host:porta"), QStringLiteral("127.0.0.1:0"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Banco da empresa: sqlite:ARQUIVO ou "
                                               "postgres:CONEXÃO."),
                                QStringLiteral("url"), defaultDatabase());
    const QCommandLineOption module(QStringLiteral("module"),
                                    QStringLiteral("Módulo aberto ao iniciar."),
                                    QStringLiteral("código"));
    const QCommandLineOption param(
        QStringLiteral("param"),
        QStringLiteral("Parâmetro de texto para o módulo de --module (repetível)."),
        QStringLiteral("texto"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"), QStringLiteral("Grava a janela principal num PNG e termina."),
        QStringLiteral("arquivo"));
    const QCommandLineOption tour(
        QStringLiteral("tour"),
        QStringLiteral("Percorre as janelas pelos passos do arquivo de roteiro e termina."),
        QStringLiteral("arquivo"));
    parser.addOptions(
        {empresa, filial, data, operador, server, db, module, param, screenshot, tour});

    if (!parser.parse(arguments)) {
        throw host::EHostError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        throw host::EHostError(QString("Argumento inesperado: \"%1\".")
                                   .arg(parser.positionalArguments().constFirst()));
    }

    Options o;
    o.login.empresa = digitsCode(QStringLiteral("empresa"), parser.value(empresa), 2);
    o.login.filial = digitsCode(QStringLiteral("filial"), parser.value(filial), 4);
    o.login.dataProc = parser.isSet(data) ? parseDate(parser.value(data)) : QDate::currentDate();
    o.login.operador = parser.value(operador).trimmed().toUpper();
    if (o.login.operador.isEmpty()) {
        throw host::EHostError(QStringLiteral("O operador (--operador) não pode ser vazio."));
    }
    parseServer(parser.value(server), o.login);
    o.login.database = checkDatabase(parser.value(db));
    o.login.moduleDir =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../modules"));
    if (parser.isSet(module)) {
        o.startModule = parser.value(module).trimmed().toUpper();
        if (o.startModule.isEmpty()) {
            throw host::EHostError(QStringLiteral("O código do módulo (--module) está vazio."));
        }
    }
    o.startParams = parser.values(param);
    if (!o.startParams.isEmpty() && o.startModule.isEmpty()) {
        throw host::EHostError(QStringLiteral("--param só vale com --module."));
    }
    o.screenshotFile = parser.value(screenshot);
    if (parser.isSet(screenshot) && o.screenshotFile.isEmpty()) {
        throw host::EHostError(QStringLiteral("Informe o arquivo de --screenshot."));
    }
    o.tourFile = parser.value(tour);
    if (parser.isSet(tour) && o.tourFile.isEmpty()) {
        throw host::EHostError(QStringLiteral("Informe o arquivo de --tour."));
    }
    if (!o.tourFile.isEmpty() && !o.screenshotFile.isEmpty()) {
        throw host::EHostError(QStringLiteral("Use --tour ou --screenshot, não os dois."));
    }
    return o;
}

}  // namespace suite
