#pragma once
// The window side of the localizer: applies the loaded form sections of Localizer() to windows.
//
// A section "[TClassName]" applies to every window whose Qt class name is TClassName (and, first,
// the sections of its base classes of ours). Each line's path walks from the window: a component
// (an object name anywhere inside the window, without regard to case), then object properties
// (Items, Lines, Columns, "(n)" items of a collection), ending in a property. The file's property
// names map onto Qt through one table (LocalizerForms.cpp): Caption is a widget's text, a window's
// title, a group box's title, a tab's text or a menu's title; Hint the tool tip and status tip;
// Items the entries of a combo box, list box or radio group; Lines the lines of a text box;
// Columns.(n).Caption a header section; TextHint the placeholder; any other name a Qt property of
// that name.
//
// User-interface thread only.

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QWidget;

namespace quillo {

// Applies the sections for Form's class chain, the most basic class of ours first.
void TranslateComponent(QWidget& Form);
// One line of a section; problems are reported through Localizer().ReportError.
void ApplyTranslation(QWidget& Form, const std::string& Path, const std::string& Value);
// TranslateComponent for every open window.
void TranslateAllForms();

// Connects Localizer() with the windows: auto-translation through SetFormTranslator (FormBase.h),
// TranslateAllForms, and reports of emMessageBox as a "Localizer Error" box.
void InstallFormTranslation();

// The class name language files use for a window: its Qt class name without a namespace.
QString FormClassName(const QWidget& Form);

// What a language file can translate in a window, as it stands: paths and texts (a string list
// as its lines), in the window's object order.
struct TTranslatableText {
    std::string Path;
    QStringList Lines;
    bool IsList = false;
};
std::vector<TTranslatableText> TranslatableTexts(QWidget& Form);

} // namespace quillo
