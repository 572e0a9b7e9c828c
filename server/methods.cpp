#include "methods.h"

#include <QRegularExpression>
#include <span>

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
namespace rm = rdmManifestacao;
namespace notas = rm::GetNotasDestinadas;

namespace {

// A request that cannot be served as asked; the text goes back as an error reply.
class EBadCall : public EHostError {
  public:
    using EHostError::EHostError;
};

const QString kT = QStringLiteral("T");

QString typeName(const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        return QStringLiteral("nulo");
    }
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

void checkCount(const Request& r, qsizetype expected) {
    if (r.args.size() != expected) {
        throw EBadCall(QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                           .arg(r.method)
                           .arg(expected)
                           .arg(r.args.size()));
    }
}

QString stringArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() != QMetaType::QString) {
        throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser texto, recebeu %4.")
                           .arg(r.method)
                           .arg(index + 1)
                           .arg(QLatin1String(name), typeName(v)));
    }
    return v.toString();
}

QByteArray packetArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() != QMetaType::QByteArray) {
        throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser um pacote de dados, "
                                      "recebeu %4.")
                           .arg(r.method)
                           .arg(index + 1)
                           .arg(QLatin1String(name), typeName(v)));
    }
    return v.toByteArray();
}

QDate dateArg(const Request& r, int index, const char* name) {
    const QVariant& v = r.args.at(index);
    if (v.typeId() == QMetaType::QDate && v.toDate().isValid()) {
        return v.toDate();
    }
    if (v.typeId() == QMetaType::QDateTime && v.toDateTime().isValid()) {
        return v.toDateTime().date();
    }
    throw EBadCall(QStringLiteral("%1: o argumento %2 (%3) deve ser uma data válida, recebeu %4.")
                       .arg(r.method)
                       .arg(index + 1)
                       .arg(QLatin1String(name), typeName(v)));
}

// The request's arguments checked against the method's list, each in its own type: a text as
// QString, a date as QDate, a packet as QByteArray. An argument the client may leave unset
// comes as "" when it does.
QVariantList checkedArgs(const Request& r, std::span<const rm::ArgSpec> params) {
    checkCount(r, qsizetype(params.size()));
    QVariantList out;
    out.reserve(qsizetype(params.size()));
    for (int i = 0; i < int(params.size()); ++i) {
        const rm::ArgSpec& param = params[i];
        const QVariant& v = r.args.at(i);
        if (param.mayBeUnset && (!v.isValid() || v.isNull())) {
            out << QString();
            continue;
        }
        switch (param.kind) {
            case rm::ArgKind::Text:
                out << stringArg(r, i, param.name);
                break;
            case rm::ArgKind::Date:
                out << dateArg(r, i, param.name);
                break;
            case rm::ArgKind::Packet:
                out << packetArg(r, i, param.name);
                break;
        }
    }
    return out;
}

// A code typed with fewer digits than its width comes zero-padded, as the client's Ajusta does.
QString adjust(const QString& text, int width) {
    const QString t = text.trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (t.size() < width && digits.match(t).hasMatch()) {
        return t.rightJustified(width, u'0');
    }
    return t;
}

bool isAny(const QString& text) {
    return text.trimmed() == kT;
}

// The failure answer of GetNotasDestinadas and setManifestacao: the status, the text, two zero
// counts and no packet.
QVariantList notesFailure(const QString& text) {
    return {QLatin1String(rm::setManifestacao::kErro), text, QStringLiteral("0"),
            QStringLiteral("0"), QString()};
}

}  // namespace

std::optional<QStringList> parseSituationList(const QString& text, const QString& allowed,
                                              const QString& argumentName) {
    const QString t = text.trimmed();
    if (t == kT) {
        return std::nullopt;
    }
    if (t == u"_") {
        return QStringList();  // every box unchecked on the client: no note matches
    }
    auto bad = [&] {
        return EHostError(QStringLiteral("%1 inválida: \"%2\". Informe \"T\" ou os códigos entre "
                                         "sublinhados, como \"_0_1_\".")
                              .arg(argumentName, text));
    };
    if (t.size() < 3 || !t.startsWith(u'_') || !t.endsWith(u'_')) {
        throw bad();
    }
    QStringList codes;
    for (const QString& part : t.mid(1, t.size() - 2).split(u'_')) {
        if (part.size() != 1 || !allowed.contains(part.at(0))) {
            throw bad();
        }
        if (!codes.contains(part)) {
            codes << part;
        }
    }
    return codes;
}

QStringList parseOperationTypes(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        throw EHostError(QStringLiteral("Tipo de operação deve ser informado (\"T\" para todos)."));
    }
    if (t == kT) {
        return {};
    }
    QStringList codes;
    static const QRegularExpression code(QStringLiteral("^[0-9A-Za-z]{1,2}$"));
    for (const QString& part : t.split(u',')) {
        const QString c = part.trimmed();
        if (!code.match(c).hasMatch()) {
            throw EHostError(QStringLiteral("Lista de tipos de operação inválida: \"%1\". Informe "
                                            "\"T\" ou os códigos separados por vírgula.")
                                 .arg(text));
        }
        const QString adjusted = adjust(c, 2);
        if (!codes.contains(adjusted)) {
            codes << adjusted;
        }
    }
    return codes;
}

QVariant getCarregaPesquisas(Store& store, const QString& companyArg) {
    const QString company = adjust(companyArg, 2);
    if (company.isEmpty()) {
        return QStringLiteral("Empresa deve ser informada.");
    }
    if (!store.companyExists(company)) {
        return QStringLiteral("Empresa %1 não cadastrada.").arg(company);
    }
    static const QList<FieldDef> fields = {
        {QStringLiteral("NRINSJURIEST"), FieldType::String, 20, false},
        {QStringLiteral("IDTPIJURIEST"), FieldType::String, 1, true},
    };
    QList<QVariantList> rows;
    for (const Registration& r : store.registrations(company)) {
        rows.append({r.number, r.personType});
    }
    QVariantList result(rm::getCarregaPesquisas::Inscricoes + 1);
    result[rm::getCarregaPesquisas::Status] = QLatin1String(rm::getCarregaPesquisas::kOk);
    result[rm::getCarregaPesquisas::Inscricoes] = host::encodePacket(fields, rows);
    return result;
}

namespace {

// A note number of the range; "" (or blanks) leaves that end open.
std::optional<qint64> noteNumber(const QString& text, const char* which) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok || v < 0) {
        throw EHostError(
            QStringLiteral("Número de nota %1 inválido: \"%2\".").arg(QLatin1String(which), text));
    }
    return v;
}

// s holds the GetNotasDestinadas arguments in their places, the two dates left empty.
NoteFilter buildFilter(Store& store, const QStringList& s, const QDate& from, const QDate& to) {
    using namespace notas;
    NoteFilter f;
    f.company = adjust(s[stCdEmpresa], 2);
    if (f.company.isEmpty() || isAny(f.company)) {
        throw EHostError(QStringLiteral("Empresa deve ser informada."));
    }
    if (!store.companyExists(f.company)) {
        throw EHostError(QStringLiteral("Empresa %1 não cadastrada.").arg(f.company));
    }

    f.statusNFe = parseSituationList(s[stSituacaoNF], QStringLiteral("0123"),
                                     QStringLiteral("Lista de situações da NF-e"));
    f.statusManif = parseSituationList(s[stSituacaoManifesta], QStringLiteral("012345"),
                                       QStringLiteral("Lista de situações da manifestação"));
    // Synchronisation situations and the IDNOTA groups they stand for.
    if (const auto sync =
            parseSituationList(s[stSincronizacao], QStringLiteral("0123"),
                               QStringLiteral("Lista de situações de sincronização"))) {
        QStringList groups;
        for (const QString& c : *sync) {
            if (c == u"0") {
                groups << QStringLiteral("5") << QStringLiteral("6") << QStringLiteral("7");
            } else if (c == u"1") {
                groups << QStringLiteral("1");
            } else if (c == u"2") {
                groups << QStringLiteral("2") << QStringLiteral("3");
            } else {
                groups << QStringLiteral("4");
            }
        }
        f.idNota = groups;
    }

    // Note numbers: "T" in the first lifts the range whatever the second holds; an empty end
    // (or "T" in the second) is open.
    if (!isAny(s[stNrNotaInicial])) {
        f.noteFrom = noteNumber(s[stNrNotaInicial], "inicial");
        if (!isAny(s[stNrNotaFinal])) {
            f.noteTo = noteNumber(s[stNrNotaFinal], "final");
        }
        if (f.noteFrom && f.noteTo && *f.noteTo < *f.noteFrom) {
            throw EHostError(QStringLiteral(
                "Número da nota fiscal inicial deve ser menor ou igual ao número final."));
        }
    }
    if (!isAny(s[stChaveAcesso])) {
        f.accessKey = s[stChaveAcesso].trimmed();
        if (f.accessKey.size() != 44) {
            throw EHostError(QStringLiteral("A chave de acesso deve ter 44 caracteres: \"%1\".")
                                 .arg(s[stChaveAcesso]));
        }
    }
    if (!isAny(s[stFiliOrig]) && !s[stFiliOrig].trimmed().isEmpty()) {
        f.branch = adjust(s[stFiliOrig], 4);
    }
    if (!isAny(s[stSerie]) && !s[stSerie].trimmed().isEmpty()) {
        f.series = s[stSerie].trimmed();
    }

    // Issuer kind and code; the client sends both empty for an issuer kind it does not know.
    const QString kind = s[stIdEmitente].trimmed().toUpper();
    if (!kind.isEmpty() && kind != kT) {
        if (kind != u"C" && kind != u"F" && kind != u"L") {
            throw EHostError(QStringLiteral("Tipo de emitente inválido: \"%1\". Use T, C, F ou L.")
                                 .arg(s[stIdEmitente]));
        }
        f.issuerKind = kind;
        if (!isAny(s[stEmitente]) && !s[stEmitente].trimmed().isEmpty()) {
            f.issuerCode = kind == u"L" ? adjust(s[stEmitente], 4) : s[stEmitente].trimmed();
        }
    }
    f.operTypes = parseOperationTypes(s[stTipoOper]);
    const QString direction = s[stFiltroIdEntrsaidOp].trimmed().toUpper();
    if (direction != kT) {
        if (direction != u"E" && direction != u"S") {
            throw EHostError(
                QStringLiteral("Tipo de entrada/saída da operação inválido: \"%1\". Use E ou S.")
                    .arg(s[stFiltroIdEntrsaidOp]));
        }
        f.direction = direction;
    }
    if (!isAny(s[stInscEstadual]) && !s[stInscEstadual].trimmed().isEmpty()) {
        f.stateRegistration = s[stInscEstadual].trimmed();
    }
    if (!isAny(s[stInscrJurid]) && !s[stInscrJurid].trimmed().isEmpty()) {
        f.legalRegistration = fiscal::stripMask(s[stInscrJurid]).toUpper();
        bool known = false;
        for (const Registration& r : store.registrations(f.company)) {
            known = known || r.number == f.legalRegistration;
        }
        if (!known) {
            throw EHostError(
                QStringLiteral("Inscrição jurídica %1 não cadastrada para a empresa %2.")
                    .arg(s[stInscrJurid].trimmed(), f.company));
        }
    }
    if (from > to) {
        throw EHostError(
            QStringLiteral("Data de emissão final deve ser maior ou igual à inicial."));
    }
    f.issuedFrom = from;
    f.issuedTo = to;
    return f;
}

}  // namespace

QVariant getNotasDestinadas(Store& store, const QVariantList& args, const QDate& today) {
    QStringList s;
    for (int i = 0; i < args.size(); ++i) {
        s << (i == notas::dtIniEmis || i == notas::dtFinEmis ? QString() : args.at(i).toString());
    }
    NoteFilter filter;
    try {
        filter = buildFilter(store, s, args.at(notas::dtIniEmis).toDate(),
                             args.at(notas::dtFinEmis).toDate());
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
    QVariantList result(rm::kResultSize);
    result[notas::Status] = QLatin1String(notas::kOk);
    result[notas::Mensagem] = QString();
    result[notas::NotasPrazoProximo] = near.finish();
    result[notas::NotasManifestarAgora] = now.finish();
    result[notas::Notas] = all.finish();
    return result;
}

namespace {

// The rejected-notes row of a note whose event could not be processed at all: the issuer as the
// store knows it (when it can still be read) and the failure's own text.
QVariantList failedNoteRow(Store& store, const QString& key, const QString& reason) {
    StoredNote note;
    try {
        note = store.noteByKey(key);
    } catch (const EHostError&) {
    }
    return {key.left(44), note.issuerRegistration, note.issuerName.left(200),
            QStringLiteral("Evento não processado: %1").arg(reason).left(200)};
}

}  // namespace

QVariant setManifestacao(Store& store, const QString& registrationArg, const QByteArray& marked,
                         const QString& code, const QString& justification,
                         const QString& operatorCode) {
    const rules::EventRule* rule = rules::eventByModuleCode(code.trimmed());
    if (!rule) {
        return notesFailure(
            QStringLiteral("Tipo de manifestação inválido: \"%1\". Use 1, 2, 3 ou 4.").arg(code));
    }
    const QString registration = fiscal::stripMask(registrationArg).toUpper();
    if (registration.isEmpty()) {
        return notesFailure(QStringLiteral("Inscrição jurídica deve ser informada."));
    }
    if (!store.legalRegistrationExists(registration)) {
        return notesFailure(
            QStringLiteral("Inscrição jurídica %1 não cadastrada.").arg(registrationArg));
    }
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const EHostError& e) {
        return notesFailure(QStringLiteral("Pacote de notas marcadas inválido: %1").arg(e.text()));
    }
    if (keys.isEmpty()) {
        return notesFailure(QStringLiteral("Nenhuma nota marcada."));
    }

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
        req.when = store.clock().now();
        EventResult r;
        try {
            r = authority.sendEvent(store, req);
        } catch (const EHostError& e) {
            // This note's event was rolled back (its signing or its writing failed); the note is
            // reported among the rejected ones with the reason and the others still go.
            wrong.append(failedNoteRow(store, key, e.text()));
            continue;
        }
        if (r.registered) {
            ++registered;
        } else {
            wrong.append({key.left(44), r.issuerRegistration, r.issuerName.left(200),
                          QStringLiteral("%1 - %2").arg(r.cStat).arg(r.xMotivo).left(200)});
        }
    }
    namespace manif = rm::setManifestacao;
    QVariantList result(rm::kResultSize);
    result[manif::Status] = QStringLiteral("OK");
    result[manif::Mensagem] = QString();
    result[manif::Registrados] = QString::number(registered);
    result[manif::Erros] = QString::number(wrong.size());
    result[manif::NotasErradas] = host::encodePacket(wrongFields, wrong);
    return result;
}

namespace {

// Each method of the module with what runs it, given its checked arguments.
struct Method {
    const char* name;
    std::span<const rm::ArgSpec> args;
    QVariant (*run)(Store& store, const QVariantList& args, const QDate& today);
};

constexpr Method kMethodTable[] = {
    {notas::kName, notas::kArgs,
     [](Store& store, const QVariantList& a, const QDate& today) {
         return getNotasDestinadas(store, a, today);
     }},
    {rm::setManifestacao::kName, rm::setManifestacao::kArgs,
     [](Store& store, const QVariantList& a, const QDate&) {
         using namespace rm::setManifestacao;
         return setManifestacao(store, a[stInscrJurid].toString(), a[cdsMarcados].toByteArray(),
                                a[P_TIPOMANIFESTA].toString(), a[stJustificativa].toString(),
                                a[stOperador].toString());
     }},
    {rm::getCarregaPesquisas::kName, rm::getCarregaPesquisas::kArgs,
     [](Store& store, const QVariantList& a, const QDate&) {
         return getCarregaPesquisas(store, a[rm::getCarregaPesquisas::stCdEmpresa].toString());
     }},
    {rm::GeraXml::kName, rm::GeraXml::kArgs,
     [](Store& store, const QVariantList& a, const QDate&) {
         using namespace rm::GeraXml;
         return geraXml(store, a[cdsMarcados].toByteArray(), a[stOperador].toString());
     }},
    {rm::DownloadXML::kName, rm::DownloadXML::kArgs,
     [](Store& store, const QVariantList& a, const QDate&) {
         using namespace rm::DownloadXML;
         return downloadXml(store, a[cdsMarcados].toByteArray(), a[stInscrJurid].toString(),
                            a[stOperador].toString());
     }},
};

constexpr bool coversTheModule() {
    if (std::size(kMethodTable) != rm::kMethods.size()) {
        return false;
    }
    for (std::size_t i = 0; i < rm::kMethods.size(); ++i) {
        if (kMethodTable[i].name != rm::kMethods[i].name ||
            kMethodTable[i].args.data() != rm::kMethods[i].args.data()) {
            return false;
        }
    }
    return true;
}
static_assert(coversTheModule(), "every method of the module, in its order, has its runner");

}  // namespace

Reply dispatch(Store& store, const Request& request) {
    try {
        const QDate today = store.clock().today();
        if (request.server.compare(QLatin1String(kServerName), Qt::CaseInsensitive) != 0) {
            return Reply::failure(
                QStringLiteral("Servidor de aplicação desconhecido: \"%1\". Este servidor atende "
                               "\"%2\".")
                    .arg(request.server, QLatin1String(kServerName)));
        }
        for (const Method& m : kMethodTable) {
            if (request.method.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0) {
                return Reply::success(m.run(store, checkedArgs(request, m.args), today));
            }
        }
        return Reply::failure(QStringLiteral("Método desconhecido em %1: \"%2\".")
                                  .arg(QLatin1String(kServerName), request.method));
    } catch (const EHostError& e) {
        return Reply::failure(e.text());
    } catch (const std::exception& e) {
        return Reply::failure(
            QStringLiteral("Erro interno do servidor: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

}  // namespace dfe58000
