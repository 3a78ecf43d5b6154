#pragma once
// The template translators start from: every translatable text of every window, as each window
// stands when its translation step runs, and every numbered message, with its English text.
// Also what the check that the shipped translations are complete compares against.

#include "ui/LocalizerForms.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace quillo {

// A window language files can address, and how to build one (without showing it).
struct TTranslatableForm {
    QString ClassName;
    std::function<std::unique_ptr<QWidget>()> Create;
};
// Every window of the program. A new window adds itself here (LanguageTemplate.cpp).
std::vector<TTranslatableForm> TranslatableForms();

struct TFormTexts {
    QString ClassName;
    std::vector<TTranslatableText> Texts;
};
// Builds each window once, untranslated, and takes its texts at the moment its translation
// step runs (after its widgets exist, before its creation logic sets texts of its own). Builds
// windows: call with a throw-away data folder (the main window reads its jobs file).
std::vector<TFormTexts> CollectFormTexts();

// One line of the template: a window's text as Path='English', a message as
// Number_FirstWords='English'. Also what a check that finds a text untranslated prints, ready to
// paste into the language file.
QString TemplateLine(const TTranslatableText& Text);
QString MessageTemplateLine(int Number);

// The whole template, in the literal syntax, UTF-8 ("Codepage=65001").
QString LanguageTemplate();

// `quillo --write-language-template FILE`: runs in a throw-away data folder with the default
// settings on Qt's offscreen platform; writes the file atomically. False with Error on failure.
bool WriteLanguageTemplate(const QString& Path, QString& Error);

} // namespace quillo
