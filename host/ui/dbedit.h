#pragma once

#include "core/clientdataset.h"
#include "ui/datasourcelink.h"

#include <QLineEdit>
#include <QPointer>

namespace host {

class TDataSource;
class TField;

// A line edit showing one field of a data source's current row (its display text). It follows
// cursor moves, row changes and reloads. When it is not read-only, a finished edit is written
// to the field (the data set goes into editing; the row is posted when the cursor next moves).
class TDBEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit TDBEdit(QWidget* parent = nullptr);
    ~TDBEdit() override;

    TDataSource* DataSource() const { return m_link.source(); }
    void SetDataSource(TDataSource* source);
    const QString& DataField() const { return m_field; }
    void SetDataField(const QString& field);
    // The bound field, or nullptr (no source, no data set, unknown name).
    TField* Field() const;

    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool ro) { setReadOnly(ro); }

    // Reads the field again.
    void Refresh();

  private:
    void writeBack();

    DataSourceLink m_link;
    QString m_field;
    QString m_shown;
};

}  // namespace host
