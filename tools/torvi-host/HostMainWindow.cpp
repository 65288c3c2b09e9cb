#include "HostMainWindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

HostMainWindow::HostMainWindow(const HostOptions& options, QWidget* parent)
    : QMainWindow(parent)
    , m_options(options) {
    setWindowTitle(QStringLiteral("Бэк-офис АЗС"));
    resize(720, 420);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    QAction* quit = file->addAction(QStringLiteral("Вы&ход"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    quit->setStatusTip(QStringLiteral("Завершить работу программы"));

    m_reports = menuBar()->addMenu(QStringLiteral("&Отчёты"));
    QAction* parameters = m_reports->addAction(QStringLiteral("Параметры отчётов…"), this, [this] {
        QMessageBox::information(this, QStringLiteral("Параметры отчётов"), reportParametersText());
    });
    parameters->setStatusTip(
        QStringLiteral("Значения, которые программа передаёт модулям отчётов"));
    m_reports->addSeparator();
    QAction* modules = m_reports->addAction(QStringLiteral("Сведения о модулях"), this, [this] {
        QMessageBox::information(this, QStringLiteral("Сведения о модулях"), modulesText());
    });
    modules->setStatusTip(QStringLiteral("Загруженные модули отчётов"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    QAction* about = help->addAction(QStringLiteral("О программе"), this, [this] {
        QMessageBox::about(this, QStringLiteral("О программе"),
                           QStringLiteral("<b>Бэк-офис АЗС</b><br>Программа подключает модули "
                                          "отчётов комплекса и отвечает на их запросы."
                                          "<br><br>Qt %1")
                               .arg(QString::fromLatin1(qVersion())));
    });
    about->setStatusTip(QStringLiteral("Сведения о программе"));

    auto* welcome = new QLabel(QStringLiteral("Статистика продаж: меню «Отчёты» → «Статистика»"));
    welcome->setAlignment(Qt::AlignCenter);
    setCentralWidget(welcome);
    statusBar()->showMessage(QStringLiteral("Готово"));
}

QAction* HostMainWindow::reportsItem() const {
    return m_reports->menuAction();
}

QString HostMainWindow::reportParametersText() const {
    const QString server =
        m_options.statServer.isEmpty() ? QStringLiteral("локальный") : m_options.statServer;
    const QString goods =
        m_options.goodsDb.isEmpty() ? QStringLiteral("по умолчанию (TradeDB)") : m_options.goodsDb;
    return QStringLiteral("Режим: %1\nПапка базы ГСМ: %2\nБаза товаров: %3\n"
                          "Сервер статистики: %4\nПодпись окна статистики: %5")
        .arg(m_options.mode)
        .arg(m_options.fuelDb, goods, server, m_options.caption);
}

QString HostMainWindow::modulesText() const {
    return m_modules.isEmpty()
               ? QStringLiteral("Модули отчётов не загружены.")
               : QStringLiteral("Загружены модули отчётов:\n") + m_modules.join(QLatin1Char('\n'));
}
