#pragma once

#include "param_fields.h"

#include <QList>
#include <QObject>

#include <vector>

class QCheckBox;
class QLabel;
class QWidget;
class TNumberBox;
class TSetPointRow;

// The controls of a table of parameter fields, built once, and the two
// transforms between them and a block of entries (System[] or a relay's
// par[]).
//
// Fill sets each box's lower bound, upper bound and value, in table order.
// Collect writes back only what the user edited: a control the user did not
// touch gives back the entry it was filled with, so a value the page cannot
// show (a clamped bound, an index past a list) is never rewritten behind the
// technician's back. Such a control is marked (property "outOfRange" and a
// tooltip naming the controller's value) until the user edits it.
class TFieldForm : public QObject {
    Q_OBJECT
  public:
    // Builds the controls of `table` onto `subPages[row.subPage]`, one grid
    // row each (code, control, caption); set-point rows go into a block of
    // their own with column headings, after the other rows.
    TFieldForm(tFieldTable table, const QList<QWidget *> &subPages, QObject *parent = nullptr);
    ~TFieldForm() override;

    void Fill(const int32_t *block, const tOndrel &dev);
    void Collect(int32_t *block) const;

    // The control of block entry `index` (HoursMinutes: the hours box;
    // SetPoint: the enable box); nullptr when the table has none.
    QWidget *Control(int index) const;
    TNumberBox *Minutes(int index) const;
    bool Edited(int index) const;
    bool OutOfRange(int index) const;

  Q_SIGNALS:
    // The user (or a rule acting on the user's change) changed entry `index`.
    void edited(int index);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    struct Entry;
    struct Grids;
    void Build(Entry &e, Grids &grids);
    void Show(Entry &e, const int32_t *block, const tOndrel &dev);
    int32_t Read(const Entry &e) const;
    void Mark(Entry &e, bool out);
    void Touch(Entry &e);

    std::vector<Entry> entries;
    bool filling = false;
};

// A field's controls take the marked look through this property.
inline constexpr const char *outOfRangeProperty = "outOfRange";
