#include "core/orvanta.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>
#include <QRegularExpression>
#include <memory>

#include "core/hosterror.h"

namespace host {

namespace {

LoginContext& ctx() {
    static LoginContext c;
    return c;
}

using EntryNoArgs = void (*)();
using EntryWithParams = void (*)(const QVariant&);

}  // namespace

QString Orvanta::EmprProc() {
    return ctx().empresa;
}
QString Orvanta::FiliProc() {
    return ctx().filial;
}

QDate Orvanta::DataProc(const QString& branch) {
    const auto it = ctx().dataProcFilial.constFind(branch);
    if (it != ctx().dataProcFilial.constEnd() && it->isValid()) {
        return *it;
    }
    return ctx().dataProc.isValid() ? ctx().dataProc : QDate::currentDate();
}

QString Orvanta::Operador() {
    return ctx().operador;
}
QString Orvanta::WebURL() {
    return ctx().webUrl;
}
int Orvanta::WebPort() {
    return ctx().webPort;
}

const LoginContext& Orvanta::context() {
    return ctx();
}
void Orvanta::setContext(const LoginContext& c) {
    ctx() = c;
}

void Orvanta::setWebServer(const QString& hostName, int port) {
    ctx().webUrl = hostName;
    ctx().webPort = port;
}

QString Orvanta::ReportDir() {
    if (!ctx().reportDir.isEmpty()) {
        return ctx().reportDir;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../reports");
}

QString Orvanta::modulePath(const QString& code) {
    QString dir = ctx().moduleDir;
    if (dir.isEmpty()) {
        dir = QCoreApplication::applicationDirPath() + "/../modules";
    }
    return QDir(dir).filePath("lib" + code + ".so");
}

bool Orvanta::validModuleCode(const QString& code) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_]{1,32}$"));
    return re.match(code).hasMatch();
}

QStringList Orvanta::paramTexts(const QVariant& params) {
    if (!params.isValid() || params.isNull()) {
        return {};
    }
    if (params.canConvert<QVariantList>() && params.typeId() != QMetaType::QString &&
        params.typeId() != QMetaType::QByteArray) {
        QStringList out;
        for (const QVariant& v : params.toList()) {
            out << v.toString();
        }
        return out;
    }
    return {params.toString()};
}

void Orvanta::LoadBPL(const QString& code, const QVariant& params) {
    if (!validModuleCode(code)) {
        throw EHostError(QString("Código de módulo inválido: \"%1\".").arg(code));
    }
    const QString path = modulePath(code);
    if (!QFileInfo::exists(path)) {
        throw EHostError(QString("Módulo %1 não encontrado (%2).").arg(code, path));
    }
    // Modules stay loaded for the life of the program, as the suite's packages do: their
    // windows and unit variables outlive the call. A module opened again reuses its library.
    // The table is never destroyed, so the libraries stay reachable until the process ends.
    static auto* const loaded = new QHash<QString, QLibrary*>;
    QLibrary* lib = loaded->value(path);
    if (!lib) {
        auto fresh = std::make_unique<QLibrary>(path);
        if (!fresh->load()) {
            throw EHostError(QString("Não foi possível carregar o módulo %1: %2")
                                 .arg(code, fresh->errorString()));
        }
        lib = fresh.release();
        loaded->insert(path, lib);
    }
    if (auto withParams = reinterpret_cast<EntryWithParams>(lib->resolve("IniProcParams"))) {
        withParams(params);
        return;
    }
    if (auto entry = reinterpret_cast<EntryNoArgs>(lib->resolve("IniProc"))) {
        entry();
        return;
    }
    throw EHostError(QString("O módulo %1 não tem o ponto de entrada IniProc.").arg(code));
}

}  // namespace host
