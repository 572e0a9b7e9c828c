#pragma once

#include "core/clientdataset.h"
#include "ui/datasourcelink.h"

#include <QPointer>
#include <QWidget>

class QToolButton;

namespace host {

class TDataSource;

// The standard navigator: first, prior, next and last over a data source's cursor. First and
// prior are enabled when the cursor is past the first row, next and last when it is before the
// last; all are disabled for a closed or empty data set.
class TDBNavigator : public QWidget {
    Q_OBJECT

  public:
    enum Button { First, Prior, Next, Last };

    explicit TDBNavigator(QWidget* parent = nullptr);
    ~TDBNavigator() override;

    TDataSource* DataSource() const { return m_link.source(); }
    void SetDataSource(TDataSource* source);

    QToolButton* ButtonWidget(Button b) const { return m_buttons[b]; }
    // Does what clicking the button does.
    void BtnClick(Button b);
    void UpdateButtons();

  private:
    DataSourceLink m_link;
    QToolButton* m_buttons[4] = {};
};

}  // namespace host
