#include "lancamento.h"

#include <QStringList>

#include "core/orvanta.h"
#include "sql/adoibquery.h"

namespace dfe15200 {

namespace {

bool allDigits(const QString& s) {
    for (QChar c : s) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return !s.isEmpty();
}

}  // namespace

EntryRef entryRefFromParams(const QVariant& params) {
    const QStringList texts = host::Orvanta::paramTexts(params);
    EntryRef ref;
    ref.branch = texts.value(0).trimmed();
    ref.entry = texts.value(1).trimmed();
    if (ref.branch.isEmpty() || ref.entry.isEmpty()) {
        ref.error =
            QStringLiteral("Informe a filial e o número do lançamento do documento a visualizar.");
        return ref;
    }
    if (!allDigits(ref.branch) || ref.branch.size() > 4) {
        ref.error = QStringLiteral("Filial inválida: \"%1\".").arg(ref.branch);
        return ref;
    }
    if (!allDigits(ref.entry) || ref.entry.size() > 10) {
        ref.error = QStringLiteral("Número de lançamento inválido: \"%1\".").arg(ref.entry);
        return ref;
    }
    ref.branch = ref.branch.rightJustified(4, u'0');
    return ref;
}

QDateTime dateTimeOf(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    if (value.typeId() == QMetaType::QDateTime) {
        const QDateTime d = value.toDateTime();
        return QDateTime(d.date(), d.time());
    }
    const QString text = value.toString().trimmed();
    for (const QString& format :
         {QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"), QStringLiteral("yyyy-MM-dd HH:mm:ss"),
          QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"), QStringLiteral("yyyy-MM-ddTHH:mm:ss")}) {
        const QDateTime d = QDateTime::fromString(text, format);
        if (d.isValid()) {
            return d;
        }
    }
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return day.isValid() ? QDateTime(day, QTime(0, 0)) : QDateTime();
}

BookedEntry readBookedEntry(const QString& company, const EntryRef& ref) {
    host::TADOIBQuery qry;
    qry.setObjectName(QStringLiteral("qryLancamento"));
    qry.SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL, NRLANCTONF, NRACESSONF, NRINSJUREMIT, IDTPIJUREMIT,"),
        QStringLiteral(
            "       NMRAZSOCEMIT, NRNOTAFISC, CDSERIE, DTEMISSAO, DTENTRSAID, VRNOTAFISC"),
        QStringLiteral("  FROM LANCTONF"),
        QStringLiteral(" WHERE CDEMPRESA = :P_CDEMPRESA"),
        QStringLiteral("   AND CDFILIAL = :P_CDFILIAL"),
        QStringLiteral("   AND NRLANCTONF IN (:P_NRLANCTONF, :P_NRLANCTONFAJUST)"),
    };
    qry.ParamByName(QStringLiteral("P_CDEMPRESA")).SetAsString(company);
    qry.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(ref.branch);
    qry.ParamByName(QStringLiteral("P_NRLANCTONF")).SetAsString(ref.entry);
    qry.ParamByName(QStringLiteral("P_NRLANCTONFAJUST"))
        .SetAsString(ref.entry.rightJustified(10, u'0'));
    qry.Open();

    BookedEntry e;
    if (qry.IsEmpty()) {
        return e;
    }
    const auto text = [&](const char* field) {
        return qry.FieldByName(QString::fromLatin1(field)).AsString().trimmed();
    };
    const auto when = [&](const char* field) {
        const host::TField& f = qry.FieldByName(QString::fromLatin1(field));
        if (f.IsNull()) {
            return QDateTime();
        }
        if (f.DataType() == host::FieldType::DateTime || f.DataType() == host::FieldType::Date) {
            return f.AsDateTime();
        }
        return dateTimeOf(f.AsString());
    };
    e.found = true;
    e.branch = text("CDFILIAL");
    e.entry = text("NRLANCTONF");
    e.accessKey = text("NRACESSONF");
    e.issuer = text("NRINSJUREMIT");
    e.issuerPersonType = text("IDTPIJUREMIT");
    e.issuerName = text("NMRAZSOCEMIT");
    e.number = text("NRNOTAFISC");
    e.series = text("CDSERIE");
    e.issued = when("DTEMISSAO");
    e.entered = when("DTENTRSAID");
    e.value = qry.FieldByName(QStringLiteral("VRNOTAFISC")).AsFloat();
    return e;
}

}  // namespace dfe15200
