#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>

#include "core/fielddef.h"

namespace host {

class TClientDataSet;

// Loads the whole content of a data set row by row, straight into its storage: the packet
// decoder and the query fill data sets through it. The columns are the definitions of the
// values that follow, in order. A data set with persistent fields takes its fields from the
// columns by name (extra columns are passed over, a field no column names is an
// EDataSetError, raised by the constructor) and converts a column of another type to its
// field's; without persistent fields the columns become the fields.
//
// Each row is beginRow(), one call per column, endRow(). The call must suit the column's
// type: text() or utf8() for String and Memo, integer(), floating(), boolean(), dateDays(),
// dateTimeMillis(); value() takes any QVariant the column's type can be made of, as
// PacketWriter::value does; null() suits every column. finish() replaces the data set's rows
// with the ones loaded and opens it on the first row of its view. Until then the data set is
// left as it was, and a loader destroyed unfinished (a failure along the way) changes nothing.
class DataSetLoader {
  public:
    DataSetLoader(TClientDataSet& dataSet, const QList<FieldDef>& columns,
                  qsizetype expectedRows = -1);
    ~DataSetLoader();
    DataSetLoader(const DataSetLoader&) = delete;
    DataSetLoader& operator=(const DataSetLoader&) = delete;

    const QList<FieldDef>& columns() const;
    // The size of a String column, when it is known only once the rows are in (the longest
    // text); it becomes the size of the field made of that column.
    void setColumnSize(int column, int size);

    void beginRow();
    void null();
    void text(QString s);
    // A text as UTF-8 bytes; bytes that are not valid UTF-8 raise EPacketError, as in a
    // packet. Texts that do not repeat stay as bytes until read.
    void utf8(QByteArrayView bytes);
    void integer(qint64 v);
    void floating(double v);
    void boolean(bool v);
    void dateDays(qint64 days);          // see packetDays; years 1 to 9999
    void dateTimeMillis(qint64 millis);  // see packetMillis; years 1 to 9999
    void value(const QVariant& v);
    void endRow();

    void finish();

  private:
    struct State;
    std::unique_ptr<State> d;
};

}  // namespace host
