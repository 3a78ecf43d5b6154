#include "ui/LocalizerForms.h"

#include "core/app/MyUtils.h"
#include "core/l10n/Localizer.h"
#include "ui/FormBase.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSet>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTreeView>

#include <stdexcept>

namespace quillo {

namespace {

// A class name without its namespace: moc names quillo::TMainWindow, the files TMainWindow.
QString ClassNameOf(const QMetaObject* Class) {
    const QString name = QString::fromLatin1(Class->className());
    const qsizetype colons = name.lastIndexOf(QStringLiteral("::"));
    return colons < 0 ? name : name.mid(colons + 2);
}

// ---- the property table ----------------------------------------------------------------------

template <class T> T* As(QObject* O) {
    return qobject_cast<T*>(O);
}

QTabWidget* TabOwner(QObject* O) {
    auto* page = As<QWidget>(O);
    auto* stack = page ? As<QStackedWidget>(page->parent()) : nullptr;
    auto* tabs = stack ? As<QTabWidget>(stack->parent()) : nullptr;
    return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

QString PlainText(QObject* O) {
    if (auto* e = As<QPlainTextEdit>(O))
        return e->toPlainText();
    return As<QTextEdit>(O)->toPlainText();
}
void SetPlainText(QObject* O, const QString& T) {
    if (auto* e = As<QPlainTextEdit>(O))
        e->setPlainText(T);
    else
        As<QTextEdit>(O)->setPlainText(T);
}
bool IsTextBox(QObject* O) {
    return As<QPlainTextEdit>(O) || As<QTextEdit>(O);
}

// A text property of the files: the first row whose name matches and that applies to the object.
struct TTextProperty {
    const char* Name;
    bool (*Applies)(QObject*);
    QString (*Get)(QObject*);
    void (*Set)(QObject*, const QString&);
    bool InTemplate; // listed for translators (texts a window shows as built)
};

// QAction's tool tip falls back to its text: only a tip of its own is a text to translate.
bool HasOwnToolTip(QObject* O) {
    if (auto* a = As<QAction>(O)) {
        QString text = a->text();
        text.remove(u'&');
        if (text.endsWith(QStringLiteral("...")))
            text.chop(3);
        return a->toolTip() != text && a->toolTip() != a->text();
    }
    return true;
}

const TTextProperty kTextProperties[] = {
    {"Caption", [](QObject* o) { return TabOwner(o) != nullptr; },
     [](QObject* o) { return TabOwner(o)->tabText(TabOwner(o)->indexOf(As<QWidget>(o))); },
     [](QObject* o, const QString& t) { TabOwner(o)->setTabText(TabOwner(o)->indexOf(As<QWidget>(o)), t); },
     true},
    {"Caption", [](QObject* o) { return As<QMenu>(o) != nullptr; },
     [](QObject* o) { return As<QMenu>(o)->title(); },
     [](QObject* o, const QString& t) { As<QMenu>(o)->setTitle(t); }, true},
    {"Caption", [](QObject* o) { return As<QAction>(o) != nullptr; },
     [](QObject* o) { return As<QAction>(o)->text(); },
     [](QObject* o, const QString& t) { As<QAction>(o)->setText(t); }, true},
    {"Caption", [](QObject* o) { return As<QAbstractButton>(o) != nullptr; },
     [](QObject* o) { return As<QAbstractButton>(o)->text(); },
     [](QObject* o, const QString& t) { As<QAbstractButton>(o)->setText(t); }, true},
    {"Caption", [](QObject* o) { return As<QLabel>(o) != nullptr; },
     [](QObject* o) { return As<QLabel>(o)->text(); },
     [](QObject* o, const QString& t) { As<QLabel>(o)->setText(t); }, true},
    {"Caption", [](QObject* o) { return As<QGroupBox>(o) != nullptr; },
     [](QObject* o) { return As<QGroupBox>(o)->title(); },
     [](QObject* o, const QString& t) { As<QGroupBox>(o)->setTitle(t); }, true},
    {"Caption",
     [](QObject* o) { return As<QDockWidget>(o) || (As<QWidget>(o) && As<QWidget>(o)->isWindow()); },
     [](QObject* o) { return As<QWidget>(o)->windowTitle(); },
     [](QObject* o, const QString& t) { As<QWidget>(o)->setWindowTitle(t); }, true},
    {"Hint", [](QObject* o) { return As<QWidget>(o) || As<QAction>(o); },
     [](QObject* o) { return HasOwnToolTip(o) ? o->property("toolTip").toString() : QString(); },
     [](QObject* o, const QString& t) {
         o->setProperty("toolTip", t);
         o->setProperty("statusTip", t);
     },
     true},
    {"TextHint", [](QObject* o) { return As<QLineEdit>(o) || IsTextBox(o); },
     [](QObject* o) { return o->property("placeholderText").toString(); },
     [](QObject* o, const QString& t) { o->setProperty("placeholderText", t); }, true},
    {"Text", [](QObject* o) { return IsTextBox(o); }, PlainText, SetPlainText, false},
    {"Text",
     [](QObject* o) { return As<QLineEdit>(o) || As<QAbstractButton>(o) || As<QLabel>(o) || As<QAction>(o); },
     [](QObject* o) { return o->property("text").toString(); },
     [](QObject* o, const QString& t) { o->setProperty("text", t); }, false},
};

// A string list of the files: its lines replace the entries one by one.
struct TStringList {
    const char* Name;
    bool (*Applies)(QObject*);
    QStringList (*Get)(QObject*);
    void (*Set)(QObject*, const QStringList&);
};

QList<QRadioButton*> RadioButtons(QObject* O) {
    return O->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
}

const TStringList kStringLists[] = {
    {"Items", [](QObject* o) { return As<QComboBox>(o) != nullptr; },
     [](QObject* o) {
         QStringList lines;
         for (int i = 0; i < As<QComboBox>(o)->count(); ++i)
             lines << As<QComboBox>(o)->itemText(i);
         return lines;
     },
     [](QObject* o, const QStringList& lines) {
         auto* box = As<QComboBox>(o);
         for (int i = 0; i < lines.size(); ++i) {
             if (i < box->count())
                 box->setItemText(i, lines[i]);
             else
                 box->addItem(lines[i]);
         }
         while (box->count() > lines.size())
             box->removeItem(box->count() - 1);
     }},
    {"Items", [](QObject* o) { return As<QListWidget>(o) != nullptr; },
     [](QObject* o) {
         QStringList lines;
         for (int i = 0; i < As<QListWidget>(o)->count(); ++i)
             lines << As<QListWidget>(o)->item(i)->text();
         return lines;
     },
     [](QObject* o, const QStringList& lines) {
         auto* list = As<QListWidget>(o);
         for (int i = 0; i < lines.size(); ++i) {
             if (i < list->count())
                 list->item(i)->setText(lines[i]);
             else
                 list->addItem(lines[i]);
         }
         while (list->count() > lines.size())
             delete list->takeItem(list->count() - 1);
     }},
    // A radio group: a group box holding its radio buttons. Its buttons are fixed, so lines beyond
    // them are left unused.
    {"Items", [](QObject* o) { return As<QGroupBox>(o) && !RadioButtons(o).isEmpty(); },
     [](QObject* o) {
         QStringList lines;
         for (QRadioButton* b : RadioButtons(o))
             lines << b->text();
         return lines;
     },
     [](QObject* o, const QStringList& lines) {
         const QList<QRadioButton*> buttons = RadioButtons(o);
         for (int i = 0; i < lines.size() && i < buttons.size(); ++i)
             buttons[i]->setText(lines[i]);
     }},
    {"Lines", IsTextBox, [](QObject* o) { return PlainText(o).split(u'\n'); },
     [](QObject* o, const QStringList& lines) { SetPlainText(o, lines.join(u'\n')); }},
};

// "Columns": the header sections of an item view; "(n)" is one of them.
// Lists without a header (QListView) have no columns to name.
bool HasColumns(QObject* O) {
    return (As<QTreeView>(O) || As<QTableView>(O)) && As<QAbstractItemView>(O)->model();
}
// A header the user never sees offers nothing to translate.
bool ShowsColumns(QObject* O) {
    if (auto* tree = As<QTreeView>(O))
        return !tree->isHeaderHidden();
    return !As<QTableView>(O)->horizontalHeader()->isHidden();
}
int ColumnCount(QObject* O) {
    return As<QAbstractItemView>(O)->model()->columnCount();
}
QString ColumnCaption(QObject* O, int N) {
    return As<QAbstractItemView>(O)->model()->headerData(N, Qt::Horizontal, Qt::DisplayRole).toString();
}
void SetColumnCaption(QObject* O, int N, const QString& Text) {
    if (!As<QAbstractItemView>(O)->model()->setHeaderData(N, Qt::Horizontal, Text, Qt::DisplayRole))
        throw std::runtime_error("The header of column " + std::to_string(N) + " cannot be changed");
}

// ---- walking a path ---------------------------------------------------------------------------

bool SameName(const QString& A, const char* B) {
    return A.compare(QLatin1String(B), Qt::CaseInsensitive) == 0;
}

const TTextProperty* FindTextProperty(QObject* O, const QString& Name) {
    for (const TTextProperty& p : kTextProperties)
        if (SameName(Name, p.Name) && p.Applies(O))
            return &p;
    return nullptr;
}
const TStringList* FindStringList(QObject* O, const QString& Name) {
    for (const TStringList& l : kStringLists)
        if (SameName(Name, l.Name) && l.Applies(O))
            return &l;
    return nullptr;
}

struct EUnknownProperty {};

// Where the walk stands: a component, a collection of one, an item of it, or a string list.
struct TNode {
    enum { nkObject, nkColumns, nkColumn, nkStrings } Kind = nkObject;
    QObject* Object = nullptr;
    const TStringList* Strings = nullptr;
    int Index = 0;
};

// "(n)": at least three characters, a 32-bit integer between the brackets.
bool ItemIndex(const QString& E, int& Index) {
    int32_t value = 0;
    if (E.size() < 3 || !E.startsWith(u'(') || !E.endsWith(u')') ||
        !TryStrToInt(E.mid(1, E.size() - 2).toStdString(), value))
        return false;
    Index = value;
    return true;
}

// One step along an object property; false when E names none.
bool StepProperty(TNode& Node, const QString& E) {
    if (Node.Kind == TNode::nkColumns) {
        int index = 0;
        if (!ItemIndex(E, index))
            return false;
        if (index < 0 || index >= ColumnCount(Node.Object))
            throw std::runtime_error("List index out of bounds (" + std::to_string(index) + ")");
        Node.Kind = TNode::nkColumn;
        Node.Index = index;
        return true;
    }
    if (Node.Kind != TNode::nkObject)
        return false;
    if (const TStringList* list = FindStringList(Node.Object, E)) {
        Node.Kind = TNode::nkStrings;
        Node.Strings = list;
        return true;
    }
    if (SameName(E, "Columns") && HasColumns(Node.Object)) {
        Node.Kind = TNode::nkColumns;
        return true;
    }
    return false;
}

// A Qt property by name, converted from the text: numbers, True/False, enumeration and flag keys.
bool SetQtProperty(QObject* O, const QString& Name, const QString& Text) {
    const QMetaObject* meta = O->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (QString::fromLatin1(property.name()).compare(Name, Qt::CaseInsensitive) != 0)
            continue;
        if (!property.isWritable())
            throw std::runtime_error("Property " + Name.toStdString() + " is read-only");
        QVariant value;
        bool ok = true;
        if (property.isEnumType()) {
            const QMetaEnum e = property.enumerator();
            const QByteArray key = Text.toLatin1();
            const int v =
                e.isFlag() ? e.keysToValue(key.constData(), &ok) : e.keyToValue(key.constData(), &ok);
            value = v;
        } else if (property.metaType().id() == QMetaType::Bool) {
            ok = Text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0 ||
                 Text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0;
            value = Text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0;
        } else {
            value = Text;
            ok = value.convert(property.metaType());
        }
        if (!ok || !property.write(O, value))
            throw std::runtime_error("Invalid property value " + Text.toStdString() + " for " +
                                     Name.toStdString());
        return true;
    }
    return false;
}

QStringList SplitLines(const QString& Value) {
    if (Value.isEmpty())
        return {};
    QStringList lines = Value.split(u'\r');
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (lines[i].startsWith(u'\n'))
            lines[i].remove(0, 1); // a CR LF is one break
    return lines;
}

QString SingleText(QString Value) {
    Value.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Value.replace(u'\r', u'\n');
    return Value;
}

void SetLast(const TNode& Node, const QString& E, const QString& Value) {
    switch (Node.Kind) {
    case TNode::nkStrings:
        Node.Strings->Set(Node.Object, SplitLines(Value));
        return;
    case TNode::nkColumn:
        if (!SameName(E, "Caption"))
            throw EUnknownProperty{};
        SetColumnCaption(Node.Object, Node.Index, SingleText(Value));
        return;
    case TNode::nkColumns:
        throw EUnknownProperty{};
    case TNode::nkObject:
        if (const TTextProperty* p = FindTextProperty(Node.Object, E)) {
            p->Set(Node.Object, SingleText(Value));
            return;
        }
        if (FindStringList(Node.Object, E))
            throw std::runtime_error("Property " + E.toStdString() + " is a list: give its lines as " +
                                     E.toStdString() + ".Strings");
        if (!SetQtProperty(Node.Object, E, SingleText(Value)))
            throw EUnknownProperty{};
        return;
    }
}

// The components a window owns: every named object inside it, the first of a name (without
// regard to case) winning.
struct TFormContext {
    explicit TFormContext(QWidget& F) : Form(F) {
        Name = F.objectName().isEmpty() ? FormClassName(F) : F.objectName();
        for (QObject* o : F.findChildren<QObject*>()) {
            const QString name = o->objectName();
            if (!name.isEmpty() && !name.startsWith(QStringLiteral("qt_")) &&
                !Components.contains(name.toLower()))
                Components.insert(name.toLower(), o);
        }
    }
    QWidget& Form;
    QString Name;
    QHash<QString, QObject*> Components;
    QObject* Component(const QString& E) const { return Components.value(E.toLower()); }
};

void Walk(const TFormContext& Context, const QStringList& Elements, const QString& Value) {
    TNode node{TNode::nkObject, &Context.Form, nullptr, 0};
    QObject* component = &Context.Form;
    qsizetype i = 0;
    while (i + 1 < Elements.size()) {
        const QString& e = Elements[i];
        if (node.Kind == TNode::nkObject && node.Object == &Context.Form) {
            if (QObject* owned = Context.Component(e)) {
                node = {TNode::nkObject, owned, nullptr, 0};
                component = owned;
                ++i;
                continue;
            }
        }
        if (StepProperty(node, e)) {
            ++i;
            continue;
        }
        // A path may name a component's visual parent first (Panel1.Button1.Caption): the window
        // owns every component, so the element is looked for there again.
        if (component == &Context.Form)
            throw EUnknownProperty{};
        node = {TNode::nkObject, &Context.Form, nullptr, 0};
        component = &Context.Form;
    }
    SetLast(node, Elements.last(), Value);
}

void Apply(const TFormContext& Context, const std::string& Path, const std::string& Value) {
    const QString path = QString::fromStdString(Path);
    bool unknown = false;
    std::string error;
    try {
        Walk(Context, path.split(u'.'), QString::fromStdString(Value));
        return;
    } catch (const EUnknownProperty&) {
        unknown = true;
    } catch (const std::exception& e) {
        error = e.what();
    }
    const std::string form = "\"" + Context.Name.toStdString() + "\"";
    if (unknown)
        Localizer().ReportError("Unknown property \"" + Path + "\" found in component " + form +
                                ".\r\nRemove it from language file");
    else
        Localizer().ReportError("Translation error of property \"" + Path + "\" in component " + form +
                                "\r\n" + error);
}

// The sections for a class and its ancestors of ours, the most basic first.
void CollectSections(const QMetaObject* Class, std::vector<const TResForm*>& Sections) {
    const QMetaObject* parent = Class->superClass();
    // Qt's own classes (QDialog, QMainWindow, QWidget, QObject) have no sections.
    if (parent && !ClassNameOf(parent).startsWith(u'Q'))
        CollectSections(parent, Sections);
    if (const TResForm* section = Localizer().FindForm(ClassNameOf(Class).toStdString()))
        Sections.push_back(section);
}

} // namespace

QString FormClassName(const QWidget& Form) {
    return ClassNameOf(Form.metaObject());
}

void TranslateComponent(QWidget& Form) {
    std::vector<const TResForm*> sections;
    CollectSections(Form.metaObject(), sections);
    if (sections.empty()) // most windows, and every window while no language is chosen
        return;
    const TFormContext context(Form);
    for (const TResForm* section : sections)
        for (std::size_t j = 0; j < section->PropertyPaths.size(); ++j)
            Apply(context, section->PropertyPaths[j], section->PropertyValues[j]);
}

void ApplyTranslation(QWidget& Form, const std::string& Path, const std::string& Value) {
    Apply(TFormContext(Form), Path, Value);
}

void TranslateAllForms() {
    for (QWidget* w : QApplication::topLevelWidgets())
        TranslateComponent(*w);
}

void InstallFormTranslation() {
    TLocalizerFormHooks hooks;
    hooks.SetAutoTranslate = [](bool On) {
        SetFormTranslator(On ? TFormTranslator([](QWidget& Form) { TranslateComponent(Form); })
                             : TFormTranslator());
    };
    hooks.TranslateAllForms = [] { TranslateAllForms(); };
    Localizer().SetFormHooks(std::move(hooks));
    Localizer().SetMessageHandler([](const std::string& Text) {
        ShowMessageBox(nullptr,
                       QString::fromStdString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                       QStringLiteral("Localizer Error"), mbOK, miError);
    });
}

std::vector<TTranslatableText> TranslatableTexts(QWidget& Form) {
    std::vector<TTranslatableText> texts;
    const auto add = [&texts](const QString& Path, const QStringList& Lines, bool IsList) {
        texts.push_back({Path.toStdString(), Lines, IsList});
    };
    const auto addObject = [&](QObject* O, const QString& Prefix) {
        QStringList seen;
        for (const TTextProperty& p : kTextProperties) {
            if (!p.InTemplate || seen.contains(QLatin1String(p.Name)) || !p.Applies(O))
                continue;
            seen << QLatin1String(p.Name);
            const QString value = p.Get(O);
            if (!value.isEmpty())
                add(Prefix + QLatin1String(p.Name), {value}, false);
        }
        for (const TStringList& l : kStringLists)
            if (l.Applies(O)) {
                const QStringList lines = l.Get(O);
                if (!lines.isEmpty() && !(lines.size() == 1 && lines[0].isEmpty()))
                    add(Prefix + QLatin1String(l.Name) + QStringLiteral(".Strings"), lines, true);
                break;
            }
        if (HasColumns(O) && ShowsColumns(O))
            for (int n = 0; n < ColumnCount(O); ++n)
                if (const QString caption = ColumnCaption(O, n); !caption.isEmpty())
                    add(Prefix + QStringLiteral("Columns.(%1).Caption").arg(n), {caption}, false);
    };
    addObject(&Form, QString());
    QSet<QString> names;
    for (QObject* o : Form.findChildren<QObject*>()) {
        const QString name = o->objectName();
        if (name.isEmpty() || name.startsWith(QStringLiteral("qt_")) || names.contains(name.toLower()))
            continue;
        names.insert(name.toLower());
        addObject(o, name + u'.');
    }
    return texts;
}

} // namespace quillo
