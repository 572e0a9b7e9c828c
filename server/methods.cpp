#include "methods.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include "authority.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "documents.h"
#include "fiscaldocs.h"
#include "rules.h"

namespace dfe58000 {

using host::EHostError;
using host::FieldDef;
using host::FieldType;
using host::wire::Reply;
using host::wire::Request;

namespace {

// A request that cannot be served as asked; the text goes back as an error reply.
class EBadCall : public EHostError {
  public:
    using EHostError::EHostError;
};

const QString kT = QStringLiteral("T");

QString typeName(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return QStringLiteral("nulo");
    switch (v.typeId()) {
        case QMetaType::QString:
            return QStringLiteral("texto");
        case QMetaType::QByteArray:
            return QStringLiteral("pacote de dados");
        case QMetaType::QDate:
            return QStringLiteral("data");
        case QMetaType::QDateTime:
            return QStringLiteral("data e hora");
        case QMetaType::QVariantList:
            return QStringLiteral("lista");
        case QMetaType::Bool:
            return QStringLiteral("lógico");
        case QMetaType::Double:
            return QStringLiteral("número decimal");
        default:
            return QStringLiteral("número");
    }
}

void checkCount(const Request& r, int expected) {
    if (r.args.size() != expected)
        throw EBadCall(QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                           .arg(r.method)
                           .arg(expected)
                           .arg(r.args.size()));
}

QString stringArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() != QMetaType::QString)
        throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser texto, recebeu %4.")
                           .arg(r.method)
                           .arg(index + 1)
                           .arg(QLatin1String(name), typeName(v)));
    return v.toString();
}

QByteArray packetArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() != QMetaType::QByteArray)
        throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser um pacote de dados, "
                                      "recebeu %4.")
                           .arg(r.method)
                           .arg(index + 1)
                           .arg(QLatin1String(name), typeName(v)));
    return v.toByteArray();
}

QDate dateArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() == QMetaType::QDate && v.toDate().isValid())
        return v.toDate();
    if (v.typeId() == QMetaType::QDateTime && v.toDateTime().isValid())
        return v.toDateTime().date();
    throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser uma data válida, recebeu %4.")
                       .arg(r.method)
                       .arg(index + 1)
                       .arg(QLatin1String(name), typeName(v)));
}

// A code typed with fewer digits than its width comes zero-padded, as the client's Ajusta does.
QString adjust(const QString& text, int width) {
    const QString t = text.trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (t.size() < width && digits.match(t).hasMatch())
        return t.rightJustified(width, u'0');
    return t;
}

bool isAny(const QString& text) {
    return text.trimmed() == kT;
}

QByteArray packet(const QList<FieldDef>& fields, const QList<QVariantList>& rows) {
    host::PacketWriter w(fields, rows.size());
    for (const QVariantList& row : rows)
        w.row(row);
    return w.finish();
}

QVariantList notesFailure(const QString& text) {
    return {QStringLiteral("ERRO"), text, QStringLiteral("0"), QStringLiteral("0"), QString()};
}

}  // namespace

std::optional<QStringList> parseSituationList(const QString& text, const QString& allowed,
                                              const QString& argumentName) {
    const QString t = text.trimmed();
    if (t == kT)
        return std::nullopt;
    auto bad = [&] {
        return EHostError(QStringLiteral("%1 inválida: \"%2\". Informe \"T\" ou os códigos entre "
                                         "sublinhados, como \"_0_1_\".")
                              .arg(argumentName, text));
    };
    if (t.size() < 3 || !t.startsWith(u'_') || !t.endsWith(u'_'))
        throw bad();
    QStringList codes;
    for (const QString& part : t.mid(1, t.size() - 2).split(u'_')) {
        if (part.size() != 1 || !allowed.contains(part.at(0)))
            throw bad();
        if (!codes.contains(part))
            codes << part;
    }
    return codes;
}

QStringList parseOperationTypes(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        throw EHostError(QStringLiteral("Tipo de operação deve ser informado (\"T\" para todos)."));
    if (t == kT)
        return {};
    QStringList codes;
    static const QRegularExpression code(QStringLiteral("^[0-9A-Za-z]{1,2}$"));
    for (const QString& part : t.split(u',')) {
        const QString c = part.trimmed();
        if (!code.match(c).hasMatch())
            throw EHostError(QStringLiteral("Lista de tipos de operação inválida: \"%1\". Informe "
                                            "\"T\" ou os códigos separados por vírgula.")
                                 .arg(text));
        const QString adjusted = adjust(c, 2);
        if (!codes.contains(adjusted))
            codes << adjusted;
    }
    return codes;
}

QVariant getCarregaPesquisas(Store& store, const QString& companyArg) {
    const QString company = adjust(companyArg, 2);
    if (company.isEmpty())
        return QStringLiteral("Empresa deve ser informada.");
    if (!store.companyExists(company))
        return QStringLiteral("Empresa %1 não cadastrada.").arg(company);
    static const QList<FieldDef> fields = {
        {QStringLiteral("NRINSJURIEST"), FieldType::String, 20, false},
        {QStringLiteral("IDTPIJURIEST"), FieldType::String, 1, true},
    };
    QList<QVariantList> rows;
    for (const Registration& r : store.registrations(company))
        rows.append({r.number, r.personType});
    return QVariantList{QStringLiteral("S"), packet(fields, rows)};
}

namespace {

NoteFilter buildFilter(Store& store, const QStringList& s, const QDate& from, const QDate& to) {
    // s holds the 17 arguments with the two dates left empty (indexes 13 and 14).
    NoteFilter f;
    f.company = adjust(s[11], 2);
    if (f.company.isEmpty() || isAny(f.company))
        throw EHostError(QStringLiteral("Empresa deve ser informada."));
    if (!store.companyExists(f.company))
        throw EHostError(QStringLiteral("Empresa %1 não cadastrada.").arg(f.company));

    f.statusNFe = parseSituationList(s[0], QStringLiteral("0123"),
                                     QStringLiteral("Lista de situações da NF-e"));
    f.statusManif = parseSituationList(s[1], QStringLiteral("012345"),
                                       QStringLiteral("Lista de situações da manifestação"));
    // Synchronisation situations and the IDNOTA groups they stand for.
    if (const auto sync = parseSituationList(
            s[15], QStringLiteral("0123"), QStringLiteral("Lista de situações de sincronização"))) {
        QStringList groups;
        for (const QString& c : *sync) {
            if (c == u"0")
                groups << QStringLiteral("5") << QStringLiteral("6") << QStringLiteral("7");
            else if (c == u"1")
                groups << QStringLiteral("1");
            else if (c == u"2")
                groups << QStringLiteral("2") << QStringLiteral("3");
            else
                groups << QStringLiteral("4");
        }
        f.idNota = groups;
    }

    // Note numbers: "T" in the first lifts the range whatever the second holds.
    if (!isAny(s[2])) {
        auto number = [](const QString& text, const char* which) {
            bool ok = false;
            const qint64 v = text.trimmed().toLongLong(&ok);
            if (!ok || v < 0)
                throw EHostError(QStringLiteral("Número de nota %1 inválido: \"%2\".")
                                     .arg(QLatin1String(which), text));
            return v;
        };
        f.noteFrom = number(s[2], "inicial");
        if (!isAny(s[3]) && !s[3].trimmed().isEmpty())
            f.noteTo = number(s[3], "final");
        if (f.noteTo && *f.noteTo < *f.noteFrom)
            throw EHostError(QStringLiteral(
                "Número da nota fiscal inicial deve ser menor ou igual ao número final."));
    }
    if (!isAny(s[4])) {
        f.accessKey = s[4].trimmed();
        if (f.accessKey.size() != 44)
            throw EHostError(
                QStringLiteral("A chave de acesso deve ter 44 caracteres: \"%1\".").arg(s[4]));
    }
    if (!isAny(s[5]) && !s[5].trimmed().isEmpty())
        f.branch = adjust(s[5], 4);
    if (!isAny(s[6]) && !s[6].trimmed().isEmpty())
        f.series = s[6].trimmed();

    // Issuer kind and code; the client sends both empty for an issuer kind it does not know.
    const QString kind = s[7].trimmed().toUpper();
    if (!kind.isEmpty() && kind != kT) {
        if (kind != u"C" && kind != u"F" && kind != u"L")
            throw EHostError(
                QStringLiteral("Tipo de emitente inválido: \"%1\". Use T, C, F ou L.").arg(s[7]));
        f.issuerKind = kind;
        if (!isAny(s[8]) && !s[8].trimmed().isEmpty())
            f.issuerCode = kind == u"L" ? adjust(s[8], 4) : s[8].trimmed();
    }
    f.operTypes = parseOperationTypes(s[9]);
    const QString direction = s[10].trimmed().toUpper();
    if (direction != kT) {
        if (direction != u"E" && direction != u"S")
            throw EHostError(
                QStringLiteral("Tipo de entrada/saída da operação inválido: \"%1\". Use E ou S.")
                    .arg(s[10]));
        f.direction = direction;
    }
    if (!isAny(s[12]) && !s[12].trimmed().isEmpty())
        f.stateRegistration = s[12].trimmed();
    if (!isAny(s[16]) && !s[16].trimmed().isEmpty()) {
        f.legalRegistration = fiscal::stripMask(s[16]).toUpper();
        bool known = false;
        for (const Registration& r : store.registrations(f.company))
            known = known || r.number == f.legalRegistration;
        if (!known)
            throw EHostError(
                QStringLiteral("Inscrição jurídica %1 não cadastrada para a empresa %2.")
                    .arg(s[16].trimmed(), f.company));
    }
    if (from > to)
        throw EHostError(
            QStringLiteral("Data de emissão final deve ser maior ou igual à inicial."));
    f.issuedFrom = from;
    f.issuedTo = to;
    return f;
}

}  // namespace

QVariant getNotasDestinadas(Store& store, const QVariantList& args, const QDate& today) {
    QStringList s;
    for (int i = 0; i < args.size(); ++i)
        s << (i == 13 || i == 14 ? QString() : args.at(i).toString());
    NoteFilter filter;
    try {
        filter = buildFilter(store, s, args.at(13).toDate(), args.at(14).toDate());
    } catch (const EHostError& e) {
        return notesFailure(e.text());
    }
    // The rows go from the query straight into the packet of every note; the two deadline
    // lists copy the encoded rows of those that fall due.
    const QList<FieldDef>& fields = noteFields();
    host::PacketWriter all(fields, host::PacketWriter::kRowsCountedAtFinish);
    host::PacketWriter near(fields, host::PacketWriter::kRowsCountedAtFinish);
    host::PacketWriter now(fields, host::PacketWriter::kRowsCountedAtFinish);
    store.writeNotes(filter, all, [&](const WrittenNote& note) {
        switch (rules::classifyDeadline(note.statusNFe, note.statusManif, note.authorised, today)) {
            case rules::DeadlineClass::Now:
                now.encodedRow(all.encoded(note.from, note.to));
                break;
            case rules::DeadlineClass::Near:
                near.encodedRow(all.encoded(note.from, note.to));
                break;
            case rules::DeadlineClass::None:
                break;
        }
    });
    const QByteArray nearPacket = near.finish();
    const QByteArray nowPacket = now.finish();
    return QVariantList{QStringLiteral("OK"), QString(), all.finish(), nearPacket, nowPacket};
}

QVariant setManifestacao(Store& store, const QString& registrationArg, const QByteArray& marked,
                         const QString& code, const QString& justification,
                         const QString& operatorCode) {
    const rules::EventRule* rule = rules::eventByModuleCode(code.trimmed());
    if (!rule)
        return notesFailure(
            QStringLiteral("Tipo de manifestação inválido: \"%1\". Use 1, 2, 3 ou 4.").arg(code));
    const QString registration = fiscal::stripMask(registrationArg).toUpper();
    if (registration.isEmpty())
        return notesFailure(QStringLiteral("Inscrição jurídica deve ser informada."));
    {
        QSqlQuery q(store.database());
        q.prepare(QStringLiteral("SELECT 1 FROM INSCRESTAD WHERE NRINSJURIEST = ?"));
        q.addBindValue(registration);
        if (!q.exec())
            throw host::EDatabaseError(q.lastError().text());
        if (!q.next())
            return notesFailure(
                QStringLiteral("Inscrição jurídica %1 não cadastrada.").arg(registrationArg));
    }
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const EHostError& e) {
        return notesFailure(QStringLiteral("Pacote de notas marcadas inválido: %1").arg(e.text()));
    }
    if (keys.isEmpty())
        return notesFailure(QStringLiteral("Nenhuma nota marcada."));

    static const QList<FieldDef> wrongFields = {
        {QStringLiteral("NRACESSONF"), FieldType::String, 44, false},
        {QStringLiteral("NRINSJURFORN"), FieldType::String, 21, false},
        {QStringLiteral("NMRAZSOCFORN"), FieldType::String, 200, false},
        {QStringLiteral("DSERRO"), FieldType::String, 200, false},
    };
    SimulatedAuthority authority;
    int registered = 0;
    QList<QVariantList> wrong;
    for (const QString& key : keys) {
        EventRequest req;
        req.accessKey = key;
        req.author = registration;
        req.rule = rule;
        req.justification = justification;
        req.operatorCode = operatorCode;
        req.when = QDateTime::currentDateTime();
        const EventResult r = authority.sendEvent(store, req);
        if (r.registered)
            ++registered;
        else
            wrong.append({key.left(44), r.issuerRegistration, r.issuerName.left(200),
                          QStringLiteral("%1 - %2").arg(r.cStat).arg(r.xMotivo).left(200)});
    }
    return QVariantList{QStringLiteral("OK"), QString(), QString::number(registered),
                        QString::number(wrong.size()), packet(wrongFields, wrong)};
}

Reply dispatch(Store& store, const Request& request, const QDate& today) {
    try {
        if (request.server.compare(QLatin1String(kServerName), Qt::CaseInsensitive) != 0)
            return Reply::failure(
                QStringLiteral("Servidor de aplicação desconhecido: \"%1\". Este servidor atende "
                               "\"%2\".")
                    .arg(request.server, QLatin1String(kServerName)));
        const QString m = request.method;
        auto is = [&](const char* name) {
            return m.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        };
        if (is("getCarregaPesquisas")) {
            checkCount(request, 1);
            return Reply::success(getCarregaPesquisas(store, stringArg(request, 0, "stCdEmpresa")));
        }
        if (is("GetNotasDestinadas")) {
            checkCount(request, 17);
            static const char* names[17] = {"stSituacaoNF",
                                            "stSituacaoManifesta",
                                            "stNrNotaInicial",
                                            "stNrNotaFinal",
                                            "stChaveAcesso",
                                            "stFiliOrig",
                                            "stSerie",
                                            "stIdEmitente",
                                            "stEmitente",
                                            "stTipoOper",
                                            "stFiltroIdEntrsaidOp",
                                            "stCdEmpresa",
                                            "stInscEstadual",
                                            "dtIniEmis",
                                            "dtFinEmis",
                                            "stSincronizacao",
                                            "stInscrJurid"};
            QVariantList args;
            for (int i = 0; i < 17; ++i) {
                if (i == 13 || i == 14)
                    args << dateArg(request, i, names[i]);
                else if (i == 3 && !request.args.at(3).isValid())
                    args << QString();  // left unset by the client when the range is "T"
                else
                    args << stringArg(request, i, names[i]);
            }
            return Reply::success(getNotasDestinadas(store, args, today));
        }
        if (is("setManifestacao")) {
            checkCount(request, 5);
            return Reply::success(setManifestacao(
                store, stringArg(request, 0, "stInscrJurid"), packetArg(request, 1, "cdsMarcados"),
                stringArg(request, 2, "P_TIPOMANIFESTA"), stringArg(request, 3, "justificativa"),
                stringArg(request, 4, "operador")));
        }
        if (is("GeraXml")) {
            checkCount(request, 2);
            return Reply::success(geraXml(store, packetArg(request, 0, "cdsMarcados"),
                                          stringArg(request, 1, "operador")));
        }
        if (is("DownloadXML")) {
            checkCount(request, 3);
            return Reply::success(downloadXml(store, packetArg(request, 0, "cdsMarcados"),
                                              stringArg(request, 1, "stInscrJurid"),
                                              stringArg(request, 2, "operador")));
        }
        return Reply::failure(QStringLiteral("Método desconhecido em %1: \"%2\".")
                                  .arg(QLatin1String(kServerName), m));
    } catch (const EHostError& e) {
        return Reply::failure(e.text());
    } catch (const std::exception& e) {
        return Reply::failure(
            QStringLiteral("Erro interno do servidor: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

}  // namespace dfe58000
