#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

namespace suite {

// The window a stand-in module opens: titled with the module's code and name, listing the
// parameters the loader handed it, one per line.
class ModulePlaceholder : public QWidget {
    Q_OBJECT

  public:
    ModulePlaceholder(const QString& code, const QString& title, const QVariant& params,
                      QWidget* parent = nullptr);
};

// Opens a placeholder in the host's MDI area (or on its own when there is none).
void openPlaceholder(const QString& code, const QString& title, const QVariant& params);

}  // namespace suite
