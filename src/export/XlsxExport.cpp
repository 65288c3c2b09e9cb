#include "export/XlsxExport.h"

#include "export/ChartTable.h"
#include "export/ExportFile.h"

#include <QFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <locale.h>
#include <utility>

namespace {

const char kDataSheet[] = "Данные";
const char kSummarySheet[] = "Итоги";

// Column widths in characters: a date with its time, and numbers of a busy station's year.
constexpr double kDateWidth = 17;
constexpr double kMinNumberWidth = 12;
constexpr double kMaxNameWidth = 60;

double widthFor(const QString& text) {
    return std::clamp(double(text.size()) + 2, kMinNumberWidth, kMaxNameWidth);
}

QString reason(lxw_error error) {
    QString text;
    switch (error) {
    case LXW_ERROR_CREATING_XLSX_FILE:
        text = QStringLiteral("не удалось создать файл книги");
        break;
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
        text = QStringLiteral("не удалось записать или прочитать временный файл книги");
        break;
    case LXW_ERROR_MEMORY_MALLOC_FAILED:
        text = QStringLiteral("не хватило памяти");
        break;
    default:
        text =
            QStringLiteral("ошибка записи книги (%1)").arg(QString::fromUtf8(lxw_strerror(error)));
    }
    // A full disk shows here only as the system's error number.
    if (errno != 0)
        text += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return text;
}

// The library writes its numbers with the C library's formatting, which follows the locale: under
// a Russian one a cell's 12.5 would go into the file as "12,5", which no spreadsheet reads. The
// writing thread alone is switched to the C notation while the book is written.
class TCNumericLocale {
public:
    TCNumericLocale() {
        if (const locale_t current = ::uselocale(nullptr); current != LC_GLOBAL_LOCALE) {
            if (const locale_t copy = ::duplocale(current))
                m_own = ::newlocale(LC_NUMERIC_MASK, "C", copy);
        } else if (const locale_t copy = ::duplocale(LC_GLOBAL_LOCALE)) {
            m_own = ::newlocale(LC_NUMERIC_MASK, "C", copy);
        }
        if (m_own)
            m_previous = ::uselocale(m_own);
    }
    ~TCNumericLocale() {
        if (!m_own)
            return;
        ::uselocale(m_previous);
        ::freelocale(m_own);
    }
    TCNumericLocale(const TCNumericLocale&) = delete;
    TCNumericLocale& operator=(const TCNumericLocale&) = delete;
    bool active() const { return m_own != nullptr; }

private:
    locale_t m_own = nullptr;
    locale_t m_previous = nullptr;
};

// The workbook is freed by closing it, whatever happened before.
class TWorkbook {
public:
    TWorkbook(const QString& finalPath, const QString& fileName)
        : m_path(finalPath) {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.use_zip64 = LXW_TRUE;
        m_name = QFile::encodeName(fileName);
        m_book = workbook_new_opt(m_name.constData(), &options);
        if (!m_book)
            TExportFile::fail(m_path, QStringLiteral("не удалось начать книгу"));
    }
    ~TWorkbook() {
        if (m_book)
            workbook_close(m_book);
    }
    lxw_workbook* get() const { return m_book; }
    void close() {
        errno = 0;
        const lxw_error error = workbook_close(std::exchange(m_book, nullptr));
        if (error != LXW_NO_ERROR)
            TExportFile::fail(m_path, reason(error));
    }
    void check(lxw_error error) const {
        if (error != LXW_NO_ERROR)
            TExportFile::fail(m_path, reason(error));
    }

private:
    QString m_path;
    QByteArray m_name;
    lxw_workbook* m_book = nullptr;
};

} // namespace

void WriteChartXlsx(const QString& path, const TChartTable& table, const TXlsxSummary& summary) {
    if (table.rowCount() + 1 > kXlsxMaxRows)
        TExportFile::fail(path,
                          QStringLiteral("в таблице %1 строк, а лист книги вмещает не больше %2")
                              .arg(table.rowCount() + 1)
                              .arg(kXlsxMaxRows));
    TExportFile file(path);
    const TCNumericLocale cNumbers;
    if (!cNumbers.active())
        TExportFile::fail(path, QStringLiteral("не удалось переключить запись чисел на точку"));
    {
        TWorkbook book(file.path(), file.temporaryPath());
        lxw_format* bold = workbook_add_format(book.get());
        format_set_bold(bold);
        lxw_format* date = workbook_add_format(book.get());
        format_set_num_format(date, "dd.mm.yyyy hh:mm");
        lxw_format* number = workbook_add_format(book.get());
        format_set_num_format(number, "0.00");

        lxw_worksheet* data = workbook_add_worksheet(book.get(), kDataSheet);
        lxw_worksheet* totals = workbook_add_worksheet(book.get(), kSummarySheet);
        if (!data || !totals)
            TExportFile::fail(file.path(), QStringLiteral("не удалось добавить лист книги"));
        const auto columns = lxw_col_t(table.columns().size());

        // Column set-up and the chart come before the rows: in constant-memory mode a row is
        // on the disk as soon as the next one starts.
        book.check(worksheet_set_column(data, 0, 0, kDateWidth, nullptr));
        for (lxw_col_t c = 0; c < columns; ++c)
            book.check(worksheet_set_column(data, c + 1, c + 1,
                                            widthFor(table.columns().at(c).name), nullptr));
        worksheet_freeze_panes(data, 1, 0);
        if (columns > 0 && table.rowCount() > 0) {
            lxw_chart* chart = workbook_add_chart(book.get(), LXW_CHART_LINE);
            const auto last = lxw_row_t(table.rowCount());
            for (lxw_col_t c = 0; c < columns; ++c) {
                lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
                chart_series_set_categories(series, kDataSheet, 1, 0, last, 0);
                chart_series_set_values(series, kDataSheet, 1, c + 1, last, c + 1);
                // By reference to the header cell: a name given as text and starting with "="
                // would be taken for a range.
                chart_series_set_name_range(series, kDataSheet, 0, c + 1);
            }
            const QByteArray title = summary.title.toUtf8();
            chart_title_set_name(chart, title.constData());
            const QByteArray axis = summary.valueAxisTitle.toUtf8();
            if (!axis.isEmpty())
                chart_axis_set_name(chart->y_axis, axis.constData());
            chart_axis_set_name(chart->x_axis, "Дата");
            chart_axis_set_num_format(chart->x_axis, "dd.mm.yy hh:mm");
            lxw_chart_options place{};
            place.x_scale = 2;
            place.y_scale = 1.5;
            book.check(worksheet_insert_chart_opt(data, 1, columns + 2, chart, &place));
        }

        book.check(worksheet_write_string(data, 0, 0, "Дата", bold));
        for (lxw_col_t c = 0; c < columns; ++c)
            book.check(worksheet_write_string(
                data, 0, c + 1, table.columns().at(c).name.toUtf8().constData(), bold));
        for (int row = 0; row < table.rowCount(); ++row) {
            const auto r = lxw_row_t(row + 1);
            book.check(worksheet_write_number(data, r, 0, table.rowTime(row), date));
            for (lxw_col_t c = 0; c < columns; ++c)
                if (table.hasValue(int(c), row))
                    book.check(worksheet_write_number(data, r, c + 1,
                                                      CentValue(table.value(int(c), row)), number));
        }

        const auto line = [&](lxw_row_t r, const char* caption, double value, const QString& name) {
            book.check(worksheet_write_string(totals, r, 0, caption, bold));
            book.check(worksheet_write_number(totals, r, 1, CentValue(value), number));
            book.check(worksheet_write_string(totals, r, 2, name.toUtf8().constData(), nullptr));
        };
        double nameWidth = 24;
        for (const auto& total : summary.totals)
            nameWidth = std::max(nameWidth, widthFor(total.first));
        book.check(worksheet_set_column(totals, 0, 0, nameWidth, nullptr));
        book.check(worksheet_set_column(totals, 1, 1, kMinNumberWidth + 4, nullptr));
        book.check(worksheet_set_column(
            totals, 2, 2, std::max(widthFor(summary.maxName), widthFor(summary.minName)), nullptr));
        line(0, "Максимальное значение:", summary.maxValue, summary.maxName);
        line(1, "Минимальное значение:", summary.minValue, summary.minName);
        book.check(worksheet_write_string(totals, 3, 0, "ИТОГО:", bold));
        lxw_row_t r = 4;
        for (const auto& [name, sum] : summary.totals) {
            book.check(worksheet_write_string(totals, r, 0, name.toUtf8().constData(), nullptr));
            book.check(worksheet_write_number(totals, r, 1, CentValue(sum), number));
            ++r;
        }
        book.close();
    }
    file.commit();
}
