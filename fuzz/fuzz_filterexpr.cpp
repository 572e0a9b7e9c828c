// Filter expressions over a small data set with a field of every type and null values. An
// expression either filters or is refused with EDataSetError, quoting it, when the filter is
// switched on; an expression that filters splits the rows with its negation: every row passes
// exactly one of "e" and "NOT (e)".

#include <QCoreApplication>
#include <cstdint>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "fuzzcheck.h"

namespace {

using host::FieldType;
using host::TClientDataSet;

TClientDataSet* g_ds = nullptr;

void fill(TClientDataSet& ds) {
    ds.AddField({QStringLiteral("NOME"), FieldType::String, 20, false});
    ds.AddField({QStringLiteral("COD"), FieldType::String, 4, true});
    ds.AddField({QStringLiteral("OBS"), FieldType::Memo, 0, false});
    ds.AddField({QStringLiteral("QTD"), FieldType::Integer, 0, false});
    ds.AddField({QStringLiteral("VALOR"), FieldType::Float, 0, false});
    ds.AddField({QStringLiteral("ATIVO"), FieldType::Boolean, 0, false});
    ds.AddField({QStringLiteral("DATA"), FieldType::Date, 0, false});
    ds.AddField({QStringLiteral("HORA"), FieldType::DateTime, 0, false});
    ds.CreateDataSet();
    const QVariantList rows[] = {
        {QStringLiteral("Ação"), QStringLiteral("01"), QStringLiteral("x"), 1, 1.5, true,
         QDate(2026, 1, 2), QDateTime(QDate(2026, 1, 2), QTime(10, 0))},
        {QStringLiteral("beta"), QStringLiteral("0002"), QString(), -7, -0.25, false,
         QDate(1999, 12, 31), QDateTime(QDate(2000, 1, 1), QTime(0, 0, 1))},
        {QString(), QString(), QString(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant()},
        {QStringLiteral("O'Neil"), QStringLiteral("A1"), QStringLiteral("ç"), 9000000000LL, 1e300,
         true, QDate(1, 1, 1), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999))},
        {QStringLiteral(""), QStringLiteral(" "), QStringLiteral("''"), 0, 0.0, false,
         QDate(1970, 1, 1), QDateTime(QDate(1970, 1, 1), QTime(0, 0))},
    };
    for (const QVariantList& row : rows) {
        ds.Append();
        for (int f = 0; f < ds.FieldCount(); ++f) {
            ds.Fields(f).SetValue(row.at(f));
        }
        ds.Post();
    }
}

// Rows that pass the expression, or -1 when it is refused.
int passing(const QString& expression) {
    g_ds->SetFiltered(false);
    g_ds->SetFilter(expression);
    try {
        g_ds->SetFiltered(true);
    } catch (const host::EDataSetError& e) {
        // The clerk is told which expression is wrong: it is quoted as written.
        fuzz::check(e.text().contains(expression), "the error does not quote the expression",
                    e.text());
        return -1;
    }
    int n = 0;
    for (g_ds->First(); !g_ds->Eof(); g_ds->Next()) {
        ++n;
    }
    fuzz::check(n == g_ds->RecordCount(), "the view's count differs from its rows");
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    static TClientDataSet ds;
    fill(ds);
    g_ds = &ds;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString expression =
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const int total = 5;
    const int yes = passing(expression);
    if (yes < 0) {
        return 0;
    }
    fuzz::check(yes <= total, "more rows pass than there are");
    if (expression.trimmed().isEmpty()) {
        return 0;
    }
    const int no = passing(QStringLiteral("NOT (") + expression + QStringLiteral(")"));
    fuzz::check(no >= 0, "the negation of a valid expression is refused", expression);
    fuzz::check(yes + no == total, "a row passes both or neither of e and NOT (e)", expression);
    return 0;
}
