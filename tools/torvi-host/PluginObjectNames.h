#pragma once

#include <vector>

// The plug-in's windows and controls that the scripted operator finds by object name, and the Qt
// class it uses each as. The names are the windows' own form and component names; the host knows
// the plug-in only through what Qt shows of it, so a renamed or retyped control would pass every
// build and fail only the operator's run. The window tests hold every entry of reliedOn() to the
// window it names.
namespace PluginObjects {

// Windows: the statistics windows, the extractor's progress window, the point value window and
// the report viewer.
inline constexpr char fmGSMStat[] = "fmGSMStat";
inline constexpr char fmTovarStat[] = "fmTovarStat";
inline constexpr char fmProgress[] = "fmProgress";
inline constexpr char fmValue[] = "fmValue";
inline constexpr char RptFrm[] = "RptFrm";

// Both statistics windows.
inline constexpr char cbSchema[] = "cbSchema";
inline constexpr char cbMult[] = "cbMult";
inline constexpr char cbDim[] = "cbDim";
inline constexpr char dtpDateFrom[] = "dtpDateFrom";
inline constexpr char dtpTimeFrom[] = "dtpTimeFrom";
inline constexpr char dtpDateTo[] = "dtpDateTo";
inline constexpr char dtpTimeTo[] = "dtpTimeTo";
inline constexpr char chbMultiGraph[] = "chbMultiGraph";
inline constexpr char bbtGo[] = "bbtGo";
inline constexpr char bbtPrint[] = "bbtPrint";
inline constexpr char RecordCountLabel[] = "RecordCountLabel";
inline constexpr char Chart1[] = "Chart1";
// The chart's signal the operator invokes for a click on a point (series index, point index).
inline constexpr char pointClicked[] = "pointClicked";
inline constexpr char pointClickedSignature[] = "pointClicked(int,int)";

// The fuel window's grades.
inline constexpr char CheckListBox1[] = "CheckListBox1";
inline constexpr char bbtSelectAll[] = "bbtSelectAll";

// The goods window's categories.
inline constexpr char rbtCateg[] = "rbtCateg";
inline constexpr char clbTovarList[] = "clbTovarList";

// The point value window.
inline constexpr char lbName[] = "lbName";
inline constexpr char lbXValue[] = "lbXValue";
inline constexpr char lbYValue[] = "lbYValue";

// The report viewer.
inline constexpr char bbtRepForm[] = "bbtRepForm";
inline constexpr char wb[] = "wb";
inline constexpr char RptMemo[] = "RptMemo";
inline constexpr char bbtPreview[] = "bbtPreview";
inline constexpr char PrintButton[] = "PrintButton";
inline constexpr char sbtnAdditional[] = "sbtnAdditional";
inline constexpr char rgChooseExport[] = "rgChooseExport";
inline constexpr char btnExport[] = "btnExport";

struct Control {
    const char* name;
    const char* className; // what the operator casts it to
};

struct Window {
    const char* name;
    std::vector<Control> controls;
};

// Every name above, under the window it is looked for in.
inline const std::vector<Window>& reliedOn() {
    static const std::vector<Control> statWindow{
        {cbSchema, "QComboBox"},        {cbMult, "QComboBox"},
        {cbDim, "QComboBox"},           {dtpDateFrom, "QDateTimeEdit"},
        {dtpTimeFrom, "QDateTimeEdit"}, {dtpDateTo, "QDateTimeEdit"},
        {dtpTimeTo, "QDateTimeEdit"},   {chbMultiGraph, "QCheckBox"},
        {bbtGo, "QAbstractButton"},     {bbtPrint, "QAbstractButton"},
        {RecordCountLabel, "QLabel"},   {Chart1, "QWidget"},
    };
    const auto with = [](std::vector<Control> own) {
        own.insert(own.begin(), statWindow.begin(), statWindow.end());
        return own;
    };
    static const std::vector<Window> windows{
        {fmGSMStat, with({{CheckListBox1, "QListWidget"}, {bbtSelectAll, "QAbstractButton"}})},
        {fmTovarStat, with({{rbtCateg, "QAbstractButton"}, {clbTovarList, "QListWidget"}})},
        {fmProgress, {}},
        {fmValue, {{lbName, "QLabel"}, {lbXValue, "QLabel"}, {lbYValue, "QLabel"}}},
        {RptFrm,
         {{bbtRepForm, "QAbstractButton"},
          {wb, "QTextBrowser"},
          {RptMemo, "QPlainTextEdit"},
          {bbtPreview, "QAbstractButton"},
          {PrintButton, "QAbstractButton"},
          {sbtnAdditional, "QAbstractButton"},
          {rgChooseExport, "QWidget"},
          {btnExport, "QAbstractButton"}}},
    };
    return windows;
}

} // namespace PluginObjects
