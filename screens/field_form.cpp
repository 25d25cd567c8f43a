#include "field_form.h"

#include "number_box.h"
#include "setpoint_row.h"
#include "u_ondrel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <map>

struct TFieldForm::Entry {
    const tParamField *field = nullptr;
    QWidget *control = nullptr;    // the value's control
    TNumberBox *minutes = nullptr; // HoursMinutes
    QCheckBox *toggle = nullptr;   // switches a Number on
    TSetPointRow *setPoint = nullptr;
    QLabel *code = nullptr;
    int32_t filled = 0;
    bool edited = false;
    bool out = false;
};

// Per sub-page: the grid of one-value rows and, made when first needed, the
// grid of set-point rows under its headings.
struct TFieldForm::Grids {
    struct Page {
        QWidget *widget = nullptr;
        QGridLayout *fields = nullptr;
        QGridLayout *setPoints = nullptr;
    };
    std::map<int, Page> pages;
    QList<QWidget *> subPages;

    Page &of(int subPage) {
        Page &p = pages[subPage];
        if (!p.widget) {
            p.widget = subPages.value(subPage, subPages.value(0));
            auto *column = qobject_cast<QVBoxLayout *>(p.widget->layout());
            if (!column)
                column = new QVBoxLayout(p.widget);
            p.fields = new QGridLayout;
            p.fields->setColumnStretch(2, 1);
            p.fields->setHorizontalSpacing(10);
            column->addLayout(p.fields);
        }
        return p;
    }
    QGridLayout *setPointGrid(int subPage) {
        Page &p = of(subPage);
        if (!p.setPoints) {
            p.setPoints = new QGridLayout;
            TSetPointRow::AddHeadings(p.setPoints, 0, p.widget);
            static_cast<QVBoxLayout *>(p.widget->layout())->addLayout(p.setPoints);
        }
        return p.setPoints;
    }
};

namespace {
QString utf8(const char *s) {
    return QString::fromUtf8(s);
}
} // namespace

TFieldForm::TFieldForm(tFieldTable table, const QList<QWidget *> &subPages, QObject *parent)
    : QObject(parent), entries(table.size()) {
    Grids grids;
    grids.subPages = subPages;
    for (size_t i = 0; i < table.size(); ++i) {
        entries[i].field = &table[i];
        Build(entries[i], grids);
    }
    // Sub-pages end in a stretch, so rows keep their height.
    for (auto &[index, page] : grids.pages)
        static_cast<QVBoxLayout *>(page.widget->layout())->addStretch(1);
}

TFieldForm::~TFieldForm() = default;

void TFieldForm::Build(Entry &e, Grids &grids) {
    const tParamField &f = *e.field;
    if (f.kind == tFieldKind::SetPoint) {
        QGridLayout *grid = grids.setPointGrid(f.subPage);
        QWidget *page = grids.of(f.subPage).widget;
        e.setPoint = new TSetPointRow(utf8(f.control), grid, grid->rowCount(), page);
        e.control = e.setPoint->Enable();
        for (QWidget *w : e.setPoint->Controls()) {
            if (auto *box = qobject_cast<QCheckBox *>(w))
                connect(box, &QCheckBox::toggled, this, [this, &e] { Touch(e); });
            else if (auto *number = qobject_cast<TNumberBox *>(w))
                connect(number, &TNumberBox::valueChanged, this, [this, &e] { Touch(e); });
        }
        return;
    }

    Grids::Page &page = grids.of(f.subPage);
    QWidget *parent = page.widget;
    const int row = page.fields->rowCount();
    e.code = new QLabel(utf8(f.code), parent);
    e.code->setObjectName(QStringLiteral("lbl%1").arg(utf8(f.control)));
    QFont bold = e.code->font();
    bold.setBold(true);
    e.code->setFont(bold);
    e.code->installEventFilter(this);
    page.fields->addWidget(e.code, row, 0);

    auto *cell = new QHBoxLayout;
    cell->setSpacing(4);
    auto numberBox = [&](const char *name) {
        auto *box = new TNumberBox(f.decimals, parent);
        box->setObjectName(utf8(name));
        box->setFixedWidth(72);
        connect(box, &TNumberBox::valueChanged, this, [this, &e] { Touch(e); });
        return box;
    };
    switch (f.kind) {
    case tFieldKind::Tenths:
    case tFieldKind::Number:
        e.control = numberBox(f.control);
        break;
    case tFieldKind::Sensor:
    case tFieldKind::Whole: {
        auto *spin = new QSpinBox(parent);
        spin->setObjectName(utf8(f.control));
        spin->setFixedWidth(72);
        connect(spin, &QSpinBox::valueChanged, this, [this, &e] { Touch(e); });
        e.control = spin;
        break;
    }
    case tFieldKind::Switch: {
        // The caption goes beside it, where it can wrap like every other.
        auto *box = new QCheckBox(parent);
        box->setObjectName(utf8(f.control));
        connect(box, &QCheckBox::toggled, this, [this, &e] { Touch(e); });
        e.control = box;
        break;
    }
    case tFieldKind::Choice:
    case tFieldKind::TwoWay: {
        auto *list = new QComboBox(parent);
        list->setObjectName(utf8(f.control));
        list->addItems(utf8(f.choices).split(u'|'));
        connect(list, &QComboBox::currentIndexChanged, this, [this, &e] { Touch(e); });
        e.control = list;
        break;
    }
    case tFieldKind::HoursMinutes:
        e.control = numberBox(f.control);
        e.minutes = numberBox(f.minutes);
        e.minutes->setRange(0, 59);
        break;
    case tFieldKind::SetPoint:
        break;
    }
    if (*f.toggle) {
        e.toggle = new QCheckBox(utf8(f.caption), parent);
        e.toggle->setObjectName(utf8(f.toggle));
        e.toggle->setToolTip(utf8(f.hint));
        cell->addWidget(e.toggle);
        // An option switched off is written as 0.
        connect(e.toggle, &QCheckBox::toggled, this, [this, &e](bool on) {
            e.control->setEnabled(on);
            if (!on)
                static_cast<QAbstractSpinBox *>(e.control)->setProperty("value", 0);
            Touch(e);
        });
        e.control->setEnabled(false);
    }
    cell->addWidget(e.control);
    if (e.minutes) {
        cell->addWidget(new QLabel(QStringLiteral(":"), parent));
        cell->addWidget(e.minutes);
    }
    cell->addStretch(1);
    page.fields->addLayout(cell, row, 1);
    e.control->setToolTip(utf8(f.hint));
    // Said by a screen reader: the caption (the code where there is none);
    // the value behind a toggle box and the two boxes of a time are told
    // apart from the caption the toggle box already says.
    const QString said = *f.caption ? utf8(f.caption) : utf8(f.code);
    if (e.toggle)
        e.control->setAccessibleName(QStringLiteral("%1 (valor)").arg(said));
    else if (e.minutes)
        e.control->setAccessibleName(QStringLiteral("%1 (horas)").arg(said));
    else
        e.control->setAccessibleName(said);
    if (e.minutes)
        e.minutes->setAccessibleName(QStringLiteral("%1 (minutos)").arg(said));
    const bool captionBeside = !*f.toggle && *f.caption;
    if (captionBeside) {
        auto *caption = new QLabel(utf8(f.caption), parent);
        caption->setWordWrap(true);
        caption->setToolTip(utf8(f.hint));
        page.fields->addWidget(caption, row, 2);
        caption->setBuddy(e.control);
        // A click on a switch's caption toggles the box.
        if (f.kind == tFieldKind::Switch)
            caption->installEventFilter(this);
    }
}

void TFieldForm::Fill(const int32_t *block, const tOndrel &dev) {
    filling = true;
    for (Entry &e : entries)
        Show(e, block, dev);
    filling = false;
    // Rules a page runs on changes (the enable boxes, the DFTC rule) have run
    // by now: a control that would write back something else than the
    // controller holds cannot show that value.
    for (Entry &e : entries) {
        e.edited = false;
        const bool noChoice = qobject_cast<QComboBox *>(e.control) &&
                              static_cast<QComboBox *>(e.control)->currentIndex() < 0;
        Mark(e, noChoice || Read(e) != e.filled);
    }
}

void TFieldForm::Show(Entry &e, const int32_t *block, const tOndrel &dev) {
    const tParamField &f = *e.field;
    const int32_t entry = block[f.index];
    e.filled = entry;
    auto bounds = [&](QWidget *w) {
        if (f.lo.from != tBound::None)
            w->setProperty("minimum", boundValue(f.lo, block, dev));
        if (f.hi.from != tBound::None)
            w->setProperty("maximum", boundValue(f.hi, block, dev));
    };
    switch (f.kind) {
    case tFieldKind::Tenths:
    case tFieldKind::Sensor:
    case tFieldKind::Number:
    case tFieldKind::Whole:
        bounds(e.control);
        e.control->setProperty("value", fieldShown(f.kind, entry));
        break;
    case tFieldKind::Switch:
        static_cast<QCheckBox *>(e.control)->setChecked(entry > 0);
        break;
    case tFieldKind::Choice:
        static_cast<QComboBox *>(e.control)->setCurrentIndex(entry);
        break;
    case tFieldKind::TwoWay:
        static_cast<QComboBox *>(e.control)->setCurrentIndex(int(fieldShown(f.kind, entry)));
        break;
    case tFieldKind::HoursMinutes: {
        bounds(e.control);
        const tHoursMinutes t = splitMinutes(entry);
        e.control->setProperty("value", t.hours);
        e.minutes->setValue(t.minutes);
        break;
    }
    case tFieldKind::SetPoint:
        e.setPoint->Fill(entry);
        break;
    }
    // The box gets its value before its check box, so the check box's
    // change enables (or clears) a box that already holds the entry.
    if (e.toggle)
        e.toggle->setChecked(entry > 0);
}

int32_t TFieldForm::Read(const Entry &e) const {
    const tParamField &f = *e.field;
    switch (f.kind) {
    case tFieldKind::Switch:
        return static_cast<QCheckBox *>(e.control)->isChecked() ? 1 : 0;
    case tFieldKind::Choice:
        return static_cast<QComboBox *>(e.control)->currentIndex();
    case tFieldKind::TwoWay:
        return fieldStored(f.kind, static_cast<QComboBox *>(e.control)->currentIndex());
    case tFieldKind::HoursMinutes:
        return joinMinutes(e.control->property("value").toDouble(), e.minutes->value());
    case tFieldKind::SetPoint:
        return e.setPoint->Collect();
    default:
        return fieldStored(f.kind, e.control->property("value").toDouble());
    }
}

void TFieldForm::Collect(int32_t *block) const {
    for (const Entry &e : entries)
        block[e.field->index] = e.edited ? Read(e) : e.filled;
}

void TFieldForm::Touch(Entry &e) {
    if (filling || e.edited)
        return;
    e.edited = true;
    Mark(e, false);
    Q_EMIT edited(e.field->index);
}

namespace {
// The platform's own style has no style sheet to read the property: the
// code turns red there. A style sheet's colour overrides the palette, and
// a change of style resets it, so it is given again after each.
void PaintMark(QWidget *code, bool out) {
    QPalette palette; // an empty palette: the parent's again
    if (out)
        palette.setColor(QPalette::WindowText, QColor(0xC0, 0x1E, 0x1E));
    code->setPalette(palette);
}
} // namespace

bool TFieldForm::eventFilter(QObject *watched, QEvent *event) {
    auto *label = qobject_cast<QLabel *>(watched);
    if (label && event->type() == QEvent::MouseButtonRelease) {
        // A switch's caption is its text.
        if (auto *box = qobject_cast<QCheckBox *>(label->buddy()); box && box->isEnabled())
            box->click();
    } else if (label && event->type() == QEvent::StyleChange &&
               label->property(outOfRangeProperty).toBool()) {
        PaintMark(label, true);
    }
    return QObject::eventFilter(watched, event);
}

void TFieldForm::Mark(Entry &e, bool out) {
    if (e.out == out)
        return;
    e.out = out;
    const QString note =
        out ? QStringLiteral("O Ondrel guarda %1, fora do que esta página mostra; o valor só muda "
                             "se este campo for editado.")
                  .arg(fieldText(*e.field, e.filled))
            : utf8(e.field->hint);
    QList<QWidget *> marked{e.control};
    if (e.code)
        marked << e.code;
    if (e.minutes)
        marked << e.minutes;
    for (QWidget *w : marked) {
        w->setProperty(outOfRangeProperty, out);
        w->setToolTip(note);
        if (w == e.code)
            PaintMark(w, out);
        // Style sheets match the property only after a fresh polish.
        w->style()->unpolish(w);
        w->style()->polish(w);
    }
}

namespace {
template <typename Pred> auto find(auto &entries, Pred pred) -> decltype(&entries.front()) {
    for (auto &e : entries)
        if (pred(e))
            return &e;
    return nullptr;
}
} // namespace

QWidget *TFieldForm::Control(int index) const {
    const Entry *e = find(entries, [&](const Entry &x) { return x.field->index == index; });
    return e ? e->control : nullptr;
}

TNumberBox *TFieldForm::Minutes(int index) const {
    const Entry *e = find(entries, [&](const Entry &x) { return x.field->index == index; });
    return e ? e->minutes : nullptr;
}

bool TFieldForm::Edited(int index) const {
    const Entry *e = find(entries, [&](const Entry &x) { return x.field->index == index; });
    return e && e->edited;
}

bool TFieldForm::OutOfRange(int index) const {
    const Entry *e = find(entries, [&](const Entry &x) { return x.field->index == index; });
    return e && e->out;
}
