// Data packets into client data sets: one declared with the note record's fields and one that
// takes the packet's own fields. Any input either loads, and then every value of every row
// reads, or raises EPacketError / EHostError and leaves the data set as it was. A packet that
// loads is written back by the data set as one that loads to the same content.

#include <QCoreApplication>
#include <cstdint>

#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/packet.h"
#include "fuzzcheck.h"
#include "notarecord.h"

namespace {

using host::EHostError;
using host::FieldType;
using host::TClientDataSet;
using host::TField;

// Every field of every row read as its own type, and on the first row in every other way too:
// conversions a value does not allow raise EHostError, which is how they fail (and, thrown for
// every cell, would cost the fuzzer most of its time).
void readAs(const TField& field, FieldType type) {
    try {
        switch (type) {
            case FieldType::String:
            case FieldType::Memo:
                (void)field.AsString();
                break;
            case FieldType::Integer:
                (void)field.AsInteger();
                break;
            case FieldType::Float:
                (void)field.AsFloat();
                break;
            case FieldType::Boolean:
                (void)field.AsBoolean();
                break;
            case FieldType::Date:
                (void)field.AsDate();
                break;
            case FieldType::DateTime:
                (void)field.AsDateTime();
                break;
        }
    } catch (const EHostError&) {
    }
}

constexpr FieldType kTypes[] = {FieldType::String,  FieldType::Integer, FieldType::Float,
                                FieldType::Boolean, FieldType::Date,    FieldType::DateTime};

void readAll(TClientDataSet& ds) {
    for (ds.First(); !ds.Eof(); ds.Next()) {
        const bool everyWay = ds.RecNo() == 1;
        for (int f = 0; f < ds.FieldCount(); ++f) {
            const TField& field = ds.Fields(f);
            (void)field.Value();
            (void)field.IsNull();
            (void)field.AsString();
            (void)field.DisplayText();
            (void)field.DisplayTextAt(ds.RecNo() - 1);
            if (!everyWay) {
                readAs(field, field.DataType());
                continue;
            }
            for (FieldType t : kTypes) {
                readAs(field, t);
            }
        }
    }
}

// The data set's content, or an empty array when it is closed.
QByteArray contentOf(const TClientDataSet& ds) {
    return ds.Active() ? ds.Data() : QByteArray();
}

// Loads the input into ds; returns whether it loaded. A failure must leave ds as it was.
bool load(TClientDataSet& ds, const QByteArray& input) {
    const QByteArray before = contentOf(ds);
    try {
        ds.SetData(input);
        return true;
    } catch (const EHostError&) {
        fuzz::check(contentOf(ds) == before, "a refused packet changed the data set");
        return false;
    }
}

void declareNoteRecord(TClientDataSet& ds) {
    for (const host::FieldDef& def : rdmManifestacao::noteRecordFields()) {
        ds.AddField(def);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    // Declared with the note record: a previous content must survive a refused packet.
    TClientDataSet notes;
    declareNoteRecord(notes);
    notes.CreateDataSet();
    notes.Append();
    notes.FieldByName(QStringLiteral("NRNOTAFISC")).SetAsString(QStringLiteral("123"));
    notes.Post();
    if (load(notes, input)) {
        readAll(notes);
    }

    // Without fields: the packet's own definitions become the fields.
    TClientDataSet bare;
    if (!load(bare, input)) {
        return 0;
    }
    readAll(bare);

    // What loaded writes back as a packet that loads to the same content.
    const QByteArray written = bare.Data();
    TClientDataSet again;
    try {
        again.SetData(written);
    } catch (const EHostError& e) {
        fuzz::fail("the data set's own packet does not load", e.text());
    }
    fuzz::check(again.FieldDefs() == bare.FieldDefs(), "fields changed on the way back");
    fuzz::check(again.Data() == written, "content changed on the way back");
    return 0;
}
