#pragma once

// Small data sets and helpers shared by the widget tests.

#include <QApplication>
#include <QLocale>
#include <QTest>
#include <memory>

#include "core/clientdataset.h"

namespace widgettest {

inline void pinLocale() {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
}

// CODIGO (4), NOME (40), VALOR (float "###0.00"), one row per (code, name, value).
struct Rows {
    QString codigo;
    QString nome;
    double valor;
};

inline std::unique_ptr<host::TClientDataSet> makeDataSet(const QList<Rows>& rows) {
    auto ds = std::make_unique<host::TClientDataSet>();
    ds->AddField({QStringLiteral("CODIGO"), host::FieldType::String, 4, false})
        .SetDisplayLabel(QStringLiteral("Código"));
    ds->AddField({QStringLiteral("NOME"), host::FieldType::String, 40, false})
        .SetDisplayLabel(QStringLiteral("Nome"));
    host::TField& valor = ds->AddField({QStringLiteral("VALOR"), host::FieldType::Float, 0, false});
    valor.SetDisplayFormat(QStringLiteral("###0.00"));
    valor.SetDisplayLabel(QStringLiteral("Valor"));
    ds->CreateDataSet();
    for (const Rows& r : rows) {
        ds->Append();
        ds->FieldByName(QStringLiteral("CODIGO")).SetAsString(r.codigo);
        ds->FieldByName(QStringLiteral("NOME")).SetAsString(r.nome);
        ds->FieldByName(QStringLiteral("VALOR")).SetAsFloat(r.valor);
        ds->Post();
    }
    ds->First();
    return ds;
}

inline QList<Rows> fiveRows() {
    return {{QStringLiteral("0001"), QStringLiteral("Alfa"), 10.0},
            {QStringLiteral("0002"), QStringLiteral("Beta"), 1234.5},
            {QStringLiteral("0003"), QStringLiteral("Gama"), 0.25},
            {QStringLiteral("0004"), QStringLiteral("Delta"), 99.9},
            {QStringLiteral("0005"), QStringLiteral("Épsilon"), 7.0}};
}

}  // namespace widgettest
