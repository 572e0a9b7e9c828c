#include "report/reportexport.h"

#include <xlsxwriter.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/hosterror.h"
#include "report/reportformat.h"

namespace host::reportexport {

namespace {

constexpr int kProgressEvery = 500;  // rows between progress calls

[[noreturn]] void cannotWrite(const QString& path, const QString& why) {
    throw EHostError(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2").arg(path, why));
}

// A sheet name Excel accepts: at most 31 characters, none of []:*?/\, unique in the book.
QString sheetName(const QString& wanted, QSet<QString>& used) {
    QString base = wanted;
    for (const QChar c : QStringLiteral("[]:*?/\\")) {
        base.replace(c, u' ');
    }
    base = base.simplified().left(31);
    if (base.isEmpty()) {
        base = QStringLiteral("Relatório");
    }
    QString name = base;
    for (int n = 2; used.contains(name.toLower()); ++n) {
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        name = base.left(31 - suffix.size()) + suffix;
    }
    used.insert(name.toLower());
    return name;
}

struct TotalsOf {
    std::vector<double> byColumn;  // sums of the columns the totals name
    std::vector<bool> summed;
};

}  // namespace

bool writeXlsx(const ReportResult& result, const QString& path, const Progress& progress) {
    const QFileInfo target(path);
    // The workbook is written under a temporary name in the target's directory and renamed
    // over the target once complete.
    QTemporaryFile reserve(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX.tmp").arg(target.fileName())));
    if (!reserve.open()) {
        cannotWrite(path, reserve.errorString());
    }
    const QString temp = reserve.fileName();
    reserve.close();  // removed with reserve unless renamed over the target
    const QByteArray tempName = QFile::encodeName(temp);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    const QByteArray tmpdir = QFile::encodeName(target.absolutePath());
    options.tmpdir = const_cast<char*>(tmpdir.constData());
    lxw_workbook* book = workbook_new_opt(tempName.constData(), &options);
    if (!book) {
        cannotWrite(path, QStringLiteral("a planilha não pôde ser criada."));
    }

    const QByteArray title = result.definition.title.toUtf8();
    const QByteArray author = result.operatorName.toUtf8();
    lxw_doc_properties props{};
    props.title = const_cast<char*>(title.constData());
    props.author = const_cast<char*>(author.constData());
    workbook_set_properties(book, &props);

    lxw_format* header = workbook_add_format(book);
    format_set_bold(header);
    format_set_bottom(header, LXW_BORDER_THIN);
    lxw_format* moneyFmt = workbook_add_format(book);
    format_set_num_format(moneyFmt, "#,##0.00");
    lxw_format* dateFmt = workbook_add_format(book);
    format_set_num_format(dateFmt, "dd/mm/yyyy");
    lxw_format* dateTimeFmt = workbook_add_format(book);
    format_set_num_format(dateTimeFmt, "dd/mm/yyyy hh:mm:ss");
    lxw_format* intFmt = workbook_add_format(book);
    format_set_num_format(intFmt, "0");
    lxw_format* totalText = workbook_add_format(book);
    format_set_bold(totalText);
    lxw_format* totalMoney = workbook_add_format(book);
    format_set_bold(totalMoney);
    format_set_num_format(totalMoney, "#,##0.00");

    const int total = result.rowCount();
    int done = 0;
    bool stopped = false;
    QSet<QString> used;
    for (int si = 0; si < int(result.sections.size()) && !stopped; ++si) {
        const ReportSection& sec = result.definition.sections[si];
        const ReportSectionData& data = result.sections[size_t(si)];
        const QString wanted = sec.title.isEmpty() ? result.definition.title : sec.title;
        const QByteArray name = sheetName(wanted, used).toUtf8();
        lxw_worksheet* ws = workbook_add_worksheet(book, name.constData());
        for (int c = 0; c < sec.columns.size(); ++c) {
            const ReportColumn& col = sec.columns[c];
            lxw_format* fmt = col.format == ColumnFormat::Money      ? moneyFmt
                              : col.format == ColumnFormat::Date     ? dateFmt
                              : col.format == ColumnFormat::DateTime ? dateTimeFmt
                                                                     : nullptr;
            worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), std::max(col.width, 4.0), fmt);
            worksheet_write_string(ws, 0, lxw_col_t(c), col.caption.toUtf8().constData(), header);
        }
        worksheet_freeze_panes(ws, 1, 0);

        std::vector<int> colField, kindField;
        for (const ReportColumn& c : sec.columns) {
            colField.push_back(data.fieldIndex(c.field));
            kindField.push_back(c.kindField.isEmpty() ? -1 : data.fieldIndex(c.kindField));
        }
        std::vector<double> sums(size_t(sec.columns.size()), 0.0);
        const int rows = data.rowCount();
        for (int row = 0; row < rows; ++row) {
            const lxw_row_t xr = lxw_row_t(row + 1);
            for (int c = 0; c < sec.columns.size(); ++c) {
                const ReportColumn& col = sec.columns[c];
                const QVariant& v = data.value(row, colField[size_t(c)]);
                if (!v.isValid() || v.isNull()) {
                    continue;
                }
                const lxw_col_t xc = lxw_col_t(c);
                switch (col.format) {
                    case ColumnFormat::Money:
                        sums[size_t(c)] += v.toDouble();
                        worksheet_write_number(ws, xr, xc, v.toDouble(), moneyFmt);
                        break;
                    case ColumnFormat::Integer:
                        worksheet_write_number(ws, xr, xc, double(v.toLongLong()), intFmt);
                        break;
                    case ColumnFormat::Date:
                    case ColumnFormat::DateTime: {
                        const QDateTime d = reportformat::toDateTime(v);
                        if (!d.isValid()) {
                            break;
                        }
                        lxw_datetime dt{d.date().year(), d.date().month(), d.date().day(), 0, 0, 0};
                        if (col.format == ColumnFormat::DateTime) {
                            dt.hour = d.time().hour();
                            dt.min = d.time().minute();
                            dt.sec = d.time().second();
                        }
                        worksheet_write_datetime(
                            ws, xr, xc, &dt,
                            col.format == ColumnFormat::Date ? dateFmt : dateTimeFmt);
                        break;
                    }
                    case ColumnFormat::Text:
                    case ColumnFormat::Registration: {
                        const QString kind = kindField[size_t(c)] < 0
                                                 ? QString()
                                                 : data.value(row, kindField[size_t(c)]).toString();
                        worksheet_write_string(
                            ws, xr, xc, reportformat::cell(col, v, kind).toUtf8().constData(),
                            nullptr);
                        break;
                    }
                }
            }
            if (++done % kProgressEvery == 0 && progress && !progress(done, total)) {
                stopped = true;
                break;
            }
        }
        if (sec.totals.enabled && !stopped) {
            const lxw_row_t xr = lxw_row_t(rows + 1);
            QString label = sec.totals.caption;
            if (sec.totals.count) {
                label += QStringLiteral(" (%1)").arg(rows);
            }
            worksheet_write_string(ws, xr, 0, label.toUtf8().constData(), totalText);
            for (int c = 0; c < sec.columns.size(); ++c) {
                if (sec.totals.sums.contains(sec.columns[c].field) && c > 0) {
                    worksheet_write_number(ws, xr, lxw_col_t(c), sums[size_t(c)], totalMoney);
                }
            }
        }
    }
    const lxw_error err = workbook_close(book);
    if (stopped) {
        return false;
    }
    if (err != LXW_NO_ERROR) {
        cannotWrite(path, QString::fromUtf8(lxw_strerror(err)));
    }
    // The temporary name was made private to its owner; the workbook gets what a file the
    // user saves gets: the permissions of the one it replaces, or the user's default.
    struct stat existing {};
    const QByteArray finalName = QFile::encodeName(target.absoluteFilePath());
    if (::stat(finalName.constData(), &existing) == 0) {
        ::chmod(tempName.constData(), existing.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(tempName.constData(), 0666 & ~mask);
    }
    if (std::rename(tempName.constData(), finalName.constData()) != 0) {
        cannotWrite(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return true;
}

namespace {

QString csvField(const QString& s) {
    if (s.contains(u';') || s.contains(u'"') || s.contains(u'\n') || s.contains(u'\r') ||
        (!s.isEmpty() && (s.front().isSpace() || s.back().isSpace()))) {
        QString q = s;
        q.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        return u'"' + q + u'"';
    }
    return s;
}

// A spreadsheet opening the file takes a cell that starts with one of these for a formula.
// Texts come from outside the company (issuer names are whatever the NF-e says), so such a
// text gets an apostrophe before it, which keeps it a plain text in the spreadsheet.
QString textCell(const QString& s) {
    if (!s.isEmpty() && QStringView(u"=+-@\t\r").contains(s.front())) {
        return u'\'' + s;
    }
    return s;
}

QString csvValue(const ReportColumn& col, const QVariant& v, const QString& kind) {
    if (!v.isValid() || v.isNull()) {
        return {};
    }
    switch (col.format) {
        case ColumnFormat::Money:
            return reportformat::moneyPlain(v.toDouble());
        case ColumnFormat::DateTime: {
            const QDateTime d = reportformat::toDateTime(v);
            return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) : QString();
        }
        case ColumnFormat::Text:
        case ColumnFormat::Registration:
            return textCell(reportformat::cell(col, v, kind));
        case ColumnFormat::Date:
        case ColumnFormat::Integer:
            return reportformat::cell(col, v, kind);
    }
    return {};
}

}  // namespace

bool writeCsv(const ReportResult& result, const QString& path, const Progress& progress) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        cannotWrite(path, out.errorString());
    }
    out.write("\xEF\xBB\xBF");
    const int total = result.rowCount();
    int done = 0;
    QString line;
    for (int si = 0; si < int(result.sections.size()); ++si) {
        const ReportSection& sec = result.definition.sections[si];
        const ReportSectionData& data = result.sections[size_t(si)];
        if (si > 0) {
            out.write("\r\n");
        }
        QStringList cells;
        for (const ReportColumn& c : sec.columns) {
            cells << csvField(c.caption);
        }
        out.write(cells.join(u';').toUtf8() + "\r\n");
        std::vector<int> colField, kindField;
        for (const ReportColumn& c : sec.columns) {
            colField.push_back(data.fieldIndex(c.field));
            kindField.push_back(c.kindField.isEmpty() ? -1 : data.fieldIndex(c.kindField));
        }
        for (int row = 0; row < data.rowCount(); ++row) {
            line.clear();
            for (int c = 0; c < sec.columns.size(); ++c) {
                if (c > 0) {
                    line += u';';
                }
                const QString kind = kindField[size_t(c)] < 0
                                         ? QString()
                                         : data.value(row, kindField[size_t(c)]).toString();
                line +=
                    csvField(csvValue(sec.columns[c], data.value(row, colField[size_t(c)]), kind));
            }
            line += QStringLiteral("\r\n");
            out.write(line.toUtf8());
            if (++done % kProgressEvery == 0 && progress && !progress(done, total)) {
                out.cancelWriting();
                return false;
            }
        }
    }
    if (!out.commit()) {
        cannotWrite(path, out.errorString());
    }
    return true;
}

}  // namespace host::reportexport
