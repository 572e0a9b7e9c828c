#include "ui/handler.h"

#include <QWidget>
#include <exception>

#include "core/hosterror.h"
#include "ui/dialogs.h"

namespace host {

bool runHandler(QWidget* context, const std::function<void()>& f) {
    try {
        f();
        return true;
    } catch (const EStop&) {
        // The message was shown by MensErro; the operation simply ends here.
    } catch (const EHostError& e) {
        dialogs().error(e.text(), context);
    } catch (const std::exception& e) {
        dialogs().error(QString::fromLocal8Bit(e.what()), context);
    } catch (...) {
        dialogs().error(QStringLiteral("Erro inesperado."), context);
    }
    return false;
}

}  // namespace host
