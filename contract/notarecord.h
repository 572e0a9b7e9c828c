#pragma once

// The record of one addressed note as GetNotasDestinadas sends it: 31 fields in packet order,
// with their types and sizes and the labels the workspace's list shows. The server writes its
// packets with it, the workspace declares its list with it, and the benchmarks build theirs.

#include <QList>
#include <QString>
#include <array>

#include "core/fielddef.h"

namespace rdmManifestacao {

struct NoteFieldSpec {
    const char* name;
    host::FieldType type;
    int size;
    bool fixed;
    const char* label;  // UTF-8; empty where the list has no column of its own
};

inline constexpr int kNoteFieldCount = 31;

inline constexpr std::array<NoteFieldSpec, kNoteFieldCount> kNoteRecord = {{
    {"IDMARCADO", host::FieldType::String, 1, true, "4"},
    {"CDFILIALORIG", host::FieldType::String, 4, false, "Filial"},
    {"CDEMPRESA", host::FieldType::String, 2, false, ""},
    {"NRINSJURNFORIG", host::FieldType::String, 20, false, "Inscrição"},
    {"NMRAZSOCEMIT", host::FieldType::String, 250, false, "Razão Social"},
    {"NRNOTAFISC", host::FieldType::String, 20, false, "Nº Nota"},
    {"DTENTRSAID", host::FieldType::DateTime, 0, false, "Data de Entrada"},
    {"DTEMISSAO", host::FieldType::DateTime, 0, false, "Data de Emissão"},
    {"CDSERIE", host::FieldType::String, 5, false, "Série"},
    {"IDSTATUSNFE", host::FieldType::String, 1, false, "Situação NF"},
    {"IDSTATUSMANIF", host::FieldType::String, 1, false, "Situação Manif."},
    {"IDTIPOINCL", host::FieldType::String, 3, false, "Inclusão"},
    {"IDTIPOEVENTO", host::FieldType::String, 6, false, "Evento"},
    {"IDAMBIENTEMANIF", host::FieldType::String, 1, false, "Ambiente"},
    {"DTHREVENTO", host::FieldType::DateTime, 0, false, ""},
    {"NRSEQEVENTO", host::FieldType::String, 2, false, ""},
    {"DSCORRECAONFE", host::FieldType::String, 1000, false, "Descrição Correção"},
    {"DSOBSSTATUSMANIF", host::FieldType::String, 250, false, "Observação"},
    {"CDFILIAL", host::FieldType::String, 4, false, ""},
    {"NRLANCTONF", host::FieldType::String, 10, false, ""},
    {"NRINSJURNF", host::FieldType::String, 20, false, ""},
    {"IDENTRSAIDNF", host::FieldType::String, 1, false, ""},
    {"IDENTRSAIDOP", host::FieldType::String, 1, false, ""},
    {"NRACESSONF", host::FieldType::String, 50, false, ""},
    {"IDNOTA", host::FieldType::String, 1, true, ""},
    {"IDARQXMLNFE", host::FieldType::String, 1, false, ""},
    {"NRACESSOINTG", host::FieldType::String, 44, false, ""},
    {"VRNOTAFISC", host::FieldType::Float, 0, false, "Valor"},
    {"DTRECBTO", host::FieldType::DateTime, 0, false, "Dt. Autorização"},
    {"NRINSJURIESTDEST", host::FieldType::String, 20, false, ""},
    {"CDINSCESTADEST", host::FieldType::String, 20, false, ""},
}};

// The record as packet field definitions.
inline const QList<host::FieldDef>& noteRecordFields() {
    static const QList<host::FieldDef> fields = [] {
        QList<host::FieldDef> out;
        for (const NoteFieldSpec& f : kNoteRecord) {
            out.append({QString::fromLatin1(f.name), f.type, f.size, f.fixed});
        }
        return out;
    }();
    return fields;
}

}  // namespace rdmManifestacao
