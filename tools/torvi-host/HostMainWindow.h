#pragma once

#include "HostOptions.h"

#include <QMainWindow>

class QAction;
class QMenu;

// The back office's main window: "Файл", "Отчёты" (where report plug-ins hang their menus,
// before the last entry) and "Справка"; the status bar shows the hint of the hovered entry.
class HostMainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit HostMainWindow(const HostOptions& options, QWidget* parent = nullptr);

    QMenu* reportsMenu() const { return m_reports; }
    // The item a report plug-in is given as its parent.
    QAction* reportsItem() const;

    // The loaded report modules, for "Сведения о модулях".
    void setLoadedModules(const QStringList& paths) { m_modules = paths; }

    // The texts of the two information entries.
    QString reportParametersText() const;
    QString modulesText() const;

private:
    HostOptions m_options;
    QStringList m_modules;
    QMenu* m_reports = nullptr;
};
