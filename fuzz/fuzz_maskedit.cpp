// Edit masks in the old notation and texts laid over them: the input is "mask\0text". The laid
// text has one character per mask position, the literals in place and in every input position
// either the blank or a character the position accepts, in its case; the mask's value reads
// back no more than was laid. A mask edit (offscreen) shows the same positions as the mask.

#include <QApplication>
#include <cstdint>
#include <memory>

#include "fuzzcheck.h"
#include "ui/maskedit.h"

namespace {

using host::EditMask;

host::TMaskEdit* g_edit = nullptr;

void checkLaid(const EditMask& m, const QString& laid, const QString& value) {
    fuzz::check(laid.size() == qsizetype(m.positions.size()),
                "the laid text is not one character per position", value);
    for (qsizetype i = 0; i < laid.size(); ++i) {
        const EditMask::Slot& s = m.positions[size_t(i)];
        const QChar c = laid.at(i);
        if (s.kind == EditMask::Kind::Literal) {
            fuzz::check(c == s.ch, "a literal is not in its place", value);
        } else {
            fuzz::check(c == m.blank || (EditMask::accepts(s, c) && EditMask::applyCase(s, c) == c),
                        "a position holds a character it does not accept", value);
        }
    }
}

}  // namespace

// Fontconfig and Qt's font engines keep caches they allocate the first time a text is laid out,
// for the life of the process: leaks are looked for after each input instead of at exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
extern "C" const char* __asan_default_options() {
    return "leak_check_at_exit=0";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static int args = 3;
    static char arg0[] = "fuzz_maskedit";
    static char arg1[] = "-platform";
    static char arg2[] = "offscreen";
    static char* argvQt[] = {arg0, arg1, arg2, nullptr};
    (void)argc;
    (void)argv;
    static QApplication app(args, argvQt);
    static host::TMaskEdit edit;
    edit.SetEditMask(QStringLiteral("00/00;1;_"));
    edit.SetText(QStringLiteral("1234"));
    (void)edit.grab();
    g_edit = &edit;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\0');
    const QString mask = QString::fromUtf8(cut < 0 ? bytes : bytes.first(cut));
    const QString value = cut < 0 ? QString() : QString::fromUtf8(bytes.sliced(cut + 1));

    const EditMask m = EditMask::parse(mask);
    (void)m.toInputMask();
    const QString laid = m.place(value);
    checkLaid(m, laid, value);
    const QString held = m.valueOf(laid);
    fuzz::check(held.size() <= laid.size(), "the value is longer than the laid text", value);
    checkLaid(m, m.place(held), held);

    const QString formatted = host::FormatMaskText(mask, value);
    if (value.isEmpty()) {
        fuzz::check(formatted.isEmpty(), "an empty value formats to a text");
    } else if (m.isEmpty()) {
        fuzz::check(formatted == value, "a value without mask changed");
    } else {
        fuzz::check(formatted == laid, "the list shows another text than the edit's layout");
    }

    // Long masks cost the widget more than they find.
    if (m.positions.size() > 64) {
        return 0;
    }
    g_edit->SetEditMask(QString());
    g_edit->SetEditMask(mask);
    g_edit->SetText(value);
    if (!m.isEmpty()) {
        fuzz::check(g_edit->EditText().size() == laid.size(),
                    "the edit shows another number of positions than the mask has",
                    mask + QStringLiteral(" | ") + g_edit->EditText());
    }
    (void)g_edit->Text();
    return 0;
}
