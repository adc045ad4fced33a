// Bad input in every field of the desktop program: each case must end in the program's own box or
// in the field's rewrite by its check, and whatever ran before must still run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <map>
#include <string>
#include <vector>

#include "core/field_titles.h"
#include "tests/ui_desktop.h"

namespace segwork::ui {
namespace {

constexpr const char* kSame = "\x01";  // the field keeps the text as given

QString IntBox(const QString& text) {
  return "|'" + text + "' is not a valid integer value";
}
QString FloatBox(const QString& text) {
  return "|'" + text + "' is not a valid floating point value";
}
QString GridSizeBox(const QString& text) {
  return "|'" + text + "' is not a valid grid size: it must be at least 1";
}

// A box about a main-window field is titled with the field's name.
QString Titled(const char* field, const QString& box) {
  for (int f = 0; f < kFieldCount; ++f) {
    if (QString(FieldName(Field(f))) == field) return FieldTitle(Field(f)) + box;
  }
  ADD_FAILURE() << field;
  return box;
}

// Texts no integer field takes: empty, letters, signs alone, decimals, exponents, blanks, and
// numbers beyond 32 and 64 bits.
const std::vector<QString> kNotIntegers = {
    "",
    "abc",
    "+",
    "-",
    "2.5",
    "2,5",
    "1e3",
    " 5",
    "5 ",
    "5x",
    "0x10",
    "2147483648",
    "-2147483649",
    "18446744073709551616",
    "99999999999999999999999",
};

// One text of each kind, for fields whose conversion the full list covers elsewhere.
const std::vector<QString> kSomeNotIntegers = {"",    "abc", "-",
                                               "2.5", "1e3", "99999999999999999999999"};

// Runs the event loop until `done` or `ms` pass.
void RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

class Battery : public testing::Desktop {
 protected:
  static inline QtMessageHandler previousHandler_ = nullptr;
  void TearDown() override {
    Desktop::TearDown();
    qInstallMessageHandler(previousHandler_);
  }
  void SetUp() override {
    // The offscreen platform says so at every "show charts"; nothing else is dropped.
    previousHandler_ = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
          if (message.contains("does not support raise()")) return;
          if (previousHandler_) previousHandler_(type, context, message);
        });
    Desktop::SetUp();
    Stop();
    SmallWorld();
    ASSERT_TRUE(TakeBoxes().empty());
  }

  static constexpr const char* kSmallWorld[][2] = {
      {"Edit_cellSiz", "20"}, {"Edit_anzGr", "6"},        {"Edit_nRad", "2"},
      {"Edit_mDist", "10"},   {"E_stopT", "500"},         {"E_nbSize", "5"},
      {"E_clusterT", "1"},    {"E_startGrowWith", "100"}, {"E_growRate", "10"},
      {"Edit_anzAg", "300"},
  };
  static QString SmallWorldText(const char* field) {
    for (auto& [name, text] : kSmallWorld) {
      if (QString(name) == field) return text;
    }
    return {};
  }
  // 35 x 35 cells and 300 agents, drawn at setup only: a setup costs about a millisecond.
  void SmallWorld() {
    Find<QCheckBox>("CB_actiGrow")->setChecked(false);
    Find<QCheckBox>("CB_graphicUpd")->setChecked(false);
    for (auto& [name, text] : kSmallWorld) Set(name, text);
    Click("B_setup");
    if (Text("Edit_anzAg") != "300") {  // checked against the grid of the run before
      Set("Edit_anzAg", "300");
      Click("B_setup");
    }
    ASSERT_EQ(model.Sim.ColCount, 35);
    ASSERT_EQ(int(model.Sim.Agents.size()), 301);
  }

  QLineEdit* Edit(QWidget* window, const char* name) {
    auto* edit = window->findChild<QLineEdit*>(name);
    EXPECT_NE(edit, nullptr) << name;
    return edit;
  }
  // As a paste would, and the field left: the validator does not see it, the check reports at
  // once.
  void Set(const char* name, const QString& text) { Leave(Edit(main.get(), name), text); }
  static void Leave(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    emit edit->editingFinished();
  }
  // The reporter shows one queued box per turn of the event loop.
  std::vector<QString> TakeBoxes() {
    for (size_t seen = size_t(-1); seen != boxes.size();) {
      seen = boxes.size();
      QApplication::processEvents();
    }
    std::vector<QString> taken;
    taken.swap(boxes);
    return taken;
  }
  // Exactly one box with the given text, or none for an empty text.
  void ExpectBox(const QString& expected, const std::string& where) {
    const std::vector<QString> got = TakeBoxes();
    if (expected.isEmpty()) {
      EXPECT_TRUE(got.empty()) << where << ": " << (got.empty() ? "" : got[0].toStdString());
    } else {
      ASSERT_EQ(got.size(), 1u) << where;
      EXPECT_EQ(got[0], expected) << where;
    }
  }

  struct Snapshot {
    int cols, rows, agents, groups, steps, radius;
    const Canvas* image;
    QString stepsLabel;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Snap() {
    return {model.Sim.ColCount,        model.Sim.RowCount,  int(model.Sim.Agents.size()),
            model.Sim.GroupCount,      model.Sim.StepCount, model.Sim.NeighbourRadius,
            model.Sim.CellImage.get(), Text("lbl_Steps")};
  }

  // The run can step, be repainted and (with `charts`) be charted, without a box. A run whose step
  // reads a field that holds no integer fails that step with the field's own message instead.
  void ExpectUsable(const std::string& where, const QString& stepBox = {}, bool charts = false) {
    const int before = model.Sim.StepCount;
    main->Timer1Timer();
    EXPECT_EQ(model.Sim.StepCount, before + 1) << where;
    ExpectBox(stepBox, where + " (step)");
    Click("B_repaint");
    // The charts of a thousand groups take seconds to build; they are not what is tested here.
    if (charts && model.Sim.GroupCount <= 100) {
      Click("Button1");
      EXPECT_TRUE(analysis->isVisible()) << where;
      analysis->Refresh();
      analysis->hide();
    }
    ExpectBox({}, where + " (repaint, charts)");
    Stop();
  }
};

// ----- the main window's fields -----

struct FieldCase {
  const char* field;
  QString text;
  QString shown;      // the field after its check; kSame: as given
  QString changeBox;  // of the check, empty for none
  QString opBox;      // of the operation that reads the field, empty for success
};

std::string Describe(const FieldCase& c) {
  return std::string(c.field) + " = '" + c.text.toStdString() + "'";
}

// Fields a "new Setup" reads, each with every kind of bad text and the values around the
// spinner's extremes and the check's bounds (grid 35 x 35 = 1225 cells, 35 rows).
std::vector<FieldCase> SetupCases() {
  std::vector<FieldCase> cases;
  for (const char* field : {"Edit_cellSiz", "Edit_anzGr", "Edit_nRad", "Edit_mDist", "Edit_anzAg",
                            "E_stopT", "E_nbSize"}) {
    // Every kind of bad text for the first field a setup reads, one of each kind for the others.
    for (const QString& t :
         field == std::string("Edit_cellSiz") ? kNotIntegers : kSomeNotIntegers) {
      cases.push_back({field, t, kSame, Titled(field, IntBox(t)), Titled(field, IntBox(t))});
    }
  }
  const QString memory = "|a setup with cell size 20, radius 2 and 2147483647 groups*";
  const std::vector<FieldCase> bounds = {
      {"Edit_cellSiz", "+20", kSame, {}, {}},
      {"Edit_cellSiz", "-20", "1", {}, {}},
      {"Edit_cellSiz", "0", "1", {}, {}},
      {"Edit_cellSiz", "1", kSame, {}, {}},  // the spinner's minimum
      {"Edit_cellSiz", "34", kSame, {}, {}},
      {"Edit_cellSiz", "35", "34", {}, {}},
      {"Edit_cellSiz", "50", "34", {}, {}},  // the spinner's maximum
      {"Edit_cellSiz", "51", "34", {}, {}},
      {"Edit_cellSiz", "2147483647", "34", {}, {}},
      {"Edit_anzGr", "0", "1", {}, {}},
      {"Edit_anzGr", "-5", "1", {}, {}},
      {"Edit_anzGr", "1", kSame, {}, {}},  // below the spinner, one colour for all
      {"Edit_anzGr", "2", kSame, {}, {}},
      {"Edit_anzGr", "1000", kSame, {}, {}},
      {"Edit_anzGr", "1001", kSame, {}, {}},
      {"Edit_anzGr", "2147483647", kSame, {}, memory},
      {"Edit_nRad", "0", "1", {}, {}},
      {"Edit_nRad", "-5", "1", {}, {}},
      {"Edit_nRad", "1", kSame, {}, {}},
      {"Edit_nRad", "1000", kSame, {}, {}},
      {"Edit_nRad", "1001", kSame, {}, {}},
      {"Edit_nRad", "2147483647", kSame, {}, {}},
      {"Edit_mDist", "17", kSame, {}, {}},
      {"Edit_mDist", "18", "16", {}, {}},
      {"Edit_mDist", "2", kSame, {}, {}},
      {"Edit_mDist", "1", kSame, {}, {}},
      {"Edit_mDist", "0", "1", {}, {}},
      {"Edit_mDist", "-5", "1", {}, {}},
      {"Edit_mDist", "1000", "16", {}, {}},
      {"Edit_mDist", "1001", "16", {}, {}},
      {"Edit_mDist", "2147483647", "16", {}, {}},
      {"Edit_anzAg", "+600", kSame, {}, {}},
      {"Edit_anzAg", "1225", kSame, {}, {}},
      {"Edit_anzAg", "1226", "1164", {}, {}},
      {"Edit_anzAg", "2147483647", "1164", {}, {}},
      {"Edit_anzAg", "0", kSame, {}, {}},
      {"Edit_anzAg", "-5", kSame, {}, {}},  // no agent at all
      {"E_stopT", "0", kSame, {}, {}},
      {"E_stopT", "-5", kSame, {}, {}},
      {"E_stopT", "+3", kSame, {}, {}},
      {"E_stopT", "2147483647", kSame, {}, {}},
      {"E_nbSize", "0", kSame, Titled("E_nbSize", GridSizeBox("0")),
       Titled("E_nbSize", GridSizeBox("0"))},
      {"E_nbSize", "-5", kSame, Titled("E_nbSize", GridSizeBox("-5")),
       Titled("E_nbSize", GridSizeBox("-5"))},
      {"E_nbSize", "1", kSame, {}, {}},
      {"E_nbSize", "10000", kSame, {}, {}},
      {"E_nbSize", "10001", kSame, {}, {}},
      {"E_nbSize", "2147483647", kSame, {}, {}},
  };
  cases.insert(cases.end(), bounds.begin(), bounds.end());
  return cases;
}

bool Matches(const QString& got, const QString& expected) {
  if (expected.endsWith('*')) return got.startsWith(expected.chopped(1));
  return got == expected;
}

TEST_F(Battery, EveryFieldASetupReadsEndsInABoxOrARewriteAndAFailedSetupKeepsTheOldRun) {
  for (const FieldCase& c : SetupCases()) {
    SCOPED_TRACE(Describe(c));
    SmallWorld();
    main->Timer1Timer();
    main->Timer1Timer();
    TakeBoxes();
    Set(c.field, c.text);
    EXPECT_EQ(Text(c.field), c.shown == kSame ? c.text : c.shown);
    ExpectBox(c.changeBox, "change");
    const Snapshot before = Snap();
    Click("B_setup");
    const std::vector<QString> got = TakeBoxes();
    // A step reads the agent count too.
    const bool stepFails = !c.opBox.isEmpty() && QString(c.field) == "Edit_anzAg";
    if (c.opBox.isEmpty()) {
      EXPECT_TRUE(got.empty()) << (got.empty() ? "" : got[0].toStdString());
      EXPECT_EQ(model.Sim.StepCount, 0);
      EXPECT_EQ(Text("lbl_Steps"), "0");
      ExpectUsable("new run");
    } else {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_TRUE(Matches(got[0], c.opBox)) << got[0].toStdString();
      EXPECT_TRUE(Snap() == before) << "the old run changed";
      EXPECT_EQ(Text(c.field), c.shown == kSame ? c.text : c.shown) << "the text is lost";
      ExpectUsable("old run", stepFails ? c.opBox : QString(), true);
      // Mended, the setup goes through.
      Set(c.field, SmallWorldText(c.field));
      TakeBoxes();
      Click("B_setup");
      ExpectBox({}, "after mending");
      EXPECT_EQ(model.Sim.StepCount, 0);
    }
  }
}

// The growth fields take any text; they are read by a setup with growth and by each step.
TEST_F(Battery, GrowthFieldsEndInABoxOrARewriteAndTheRunSurvives) {
  std::vector<FieldCase> cases;
  for (const QString& t : kNotIntegers)
    cases.push_back({"E_startGrowWith", t, kSame, Titled("E_startGrowWith", IntBox(t)),
                     Titled("E_startGrowWith", IntBox(t))});
  for (const QString& t : kSomeNotIntegers)
    cases.push_back(
        {"E_growRate", t, kSame, Titled("E_growRate", IntBox(t)), Titled("E_growRate", IntBox(t))});
  for (const char* field : {"E_startGrowWith", "E_growRate"}) {
    const std::vector<FieldCase> bounds = {
        {field, "1225", kSame, {}, {}},        {field, "1226", "1164", {}, {}},
        {field, "32000", "1164", {}, {}},      {field, "32001", "1164", {}, {}},
        {field, "1", kSame, {}, {}},           {field, "0", kSame, {}, {}},
        {field, "-5", kSame, {}, {}},          {field, "+5", kSame, {}, {}},
        {field, "-2147483648", kSame, {}, {}},
    };
    cases.insert(cases.end(), bounds.begin(), bounds.end());
  }
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(Describe(c));
    SmallWorld();
    Set("Edit_anzAg", "1000");  // the growth target, above what a setup places
    Find<QCheckBox>("CB_actiGrow")->setChecked(true);
    Click("B_setup");
    ASSERT_EQ(int(model.Sim.Agents.size()), 101);
    TakeBoxes();
    Set(c.field, c.text);
    EXPECT_EQ(Text(c.field), c.shown == kSame ? c.text : c.shown);
    ExpectBox(c.changeBox, "change");
    const bool atSetup = QString(c.field) == "E_startGrowWith";
    const Snapshot before = Snap();
    if (atSetup) {
      Click("B_setup");
    } else {
      Click("B_stop");
      main->Timer1Timer();
    }
    const std::vector<QString> got = TakeBoxes();
    if (c.opBox.isEmpty()) {
      EXPECT_TRUE(got.empty()) << (got.empty() ? "" : got[0].toStdString());
      if (atSetup) ExpectUsable("grown run");
    } else {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0], c.opBox);
      if (atSetup) {
        EXPECT_TRUE(Snap() == before);
        ExpectUsable("old run", {}, true);
      } else {
        // The step stopped where it failed: the run is stopped, its agents are whole.
        EXPECT_FALSE(main->Timer1()->isActive());
        EXPECT_TRUE(Red());
        EXPECT_EQ(int(model.Sim.Agents.size()), 101);
      }
      EXPECT_EQ(Text(c.field), c.text) << "the text is lost";
      Set(c.field, "10");
      TakeBoxes();
      if (atSetup) {
        Click("B_setup");
        EXPECT_EQ(int(model.Sim.Agents.size()), 11);
      } else {
        Click("B_stop");
        main->Timer1Timer();
        EXPECT_EQ(int(model.Sim.Agents.size()), 111);
      }
      ExpectBox({}, "after mending");
    }
    Stop();
  }
}

// Without growth a setup does not read the growth fields.
TEST_F(Battery, AGrowthFieldIsOnlyReadWithGrowth) {
  Set("E_startGrowWith", "abc");
  Set("E_growRate", "");
  TakeBoxes();
  Click("B_setup");
  main->Timer1Timer();
  ExpectBox({}, "without growth");
  EXPECT_EQ(int(model.Sim.Agents.size()), 301);
}

// Fields read by the analysis buttons and by every step.
TEST_F(Battery, AnalysisFieldsEndInOneBoxAtTheButtonOrTheStep) {
  struct Case {
    const char* field;
    QString text;
    QString changeBox;
    const char* button;  // nullptr: one step
    QString box;
  };
  std::vector<Case> cases;
  for (const QString& t : kNotIntegers)
    cases.push_back({"E_clusterT", t, {}, "B_cluster", IntBox(t)});
  for (const QString& t : kSomeNotIntegers) {
    cases.push_back({"E_clusterT", t, {}, nullptr, IntBox(t)});  // the first step finds clusters
    cases.push_back({"Edit_anzAg", t, IntBox(t), "Button2", IntBox(t)});
    cases.push_back({"Edit_anzAg", t, IntBox(t), nullptr, IntBox(t)});
    // A grid size that is refused leaves the one in use.
    cases.push_back({"E_nbSize", t, IntBox(t), "Button2", {}});
  }
  for (const char* value : {"0", "-5", "10000", "10001", "2147483647"}) {
    cases.push_back({"E_clusterT", value, {}, "B_cluster", {}});
    cases.push_back({"E_clusterT", value, {}, nullptr, {}});
  }
  cases.push_back({"E_nbSize", "0", GridSizeBox("0"), "Button2", {}});
  cases.push_back({"E_nbSize", "10000", {}, "Button2", {}});
  cases.push_back({"E_nbSize", "2147483647", {}, "Button2", {}});
  cases.push_back({"Edit_anzAg", "0", {}, "Button2", {}});
  cases.push_back({"Edit_anzAg", "-5", {}, "Button2", {}});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = '" + c.text.toStdString() + "' then " +
                 (c.button ? c.button : "a step"));
    SmallWorld();
    TakeBoxes();
    Set(c.field, c.text);
    ExpectBox(c.changeBox.isEmpty() ? QString() : Titled(c.field, c.changeBox), "change");
    if (c.button) {
      Click(c.button);
    } else {
      Click("B_stop");
      main->Timer1Timer();
    }
    ExpectBox(c.box.isEmpty() ? QString() : Titled(c.field, c.box), "operation");
    EXPECT_EQ(Text(c.field), c.text);
    if (!c.button && !c.box.isEmpty()) {
      EXPECT_FALSE(main->Timer1()->isActive());
      EXPECT_TRUE(Red());
    }
    Stop();
    Set(c.field, SmallWorldText(c.field));
    TakeBoxes();
    if (c.button) Click(c.button);
    ExpectUsable("mended");
  }
}

// Digit-only fields refuse letters and signs at the keyboard; the growth fields take them.
TEST_F(Battery, DigitOnlyFieldsRefuseTypedLettersTheGrowthFieldsTakeThem) {
  for (Field f : kDigitsOnlyFields) {
    const char* name = FieldName(f);
    SCOPED_TRACE(name);
    const QString before = Text(name);
    QLineEdit* edit = Edit(main.get(), name);
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, "a-+.,e X");
    EXPECT_EQ(Text(name), before);
    EXPECT_EQ(model.Controls.Text(f), before.toStdString());
  }
  Type("E_growRate", "x");
  EXPECT_EQ(Text("E_growRate"), "x");
  QTest::keyClick(Edit(main.get(), "E_growRate"), Qt::Key_Return);
  ExpectBox(Titled("E_growRate", IntBox("x")), "growth rate");
  Type("E_startGrowWith", "-");
  EXPECT_EQ(Text("E_startGrowWith"), "-");
  QTest::keyClick(Edit(main.get(), "E_startGrowWith"), Qt::Key_Return);
  ExpectBox(Titled("E_startGrowWith", IntBox("-")), "start with");
  // Typing a number into an emptied field: no box while typing, the digits stand.
  Type("E_stopT", "");
  Edit(main.get(), "E_stopT")->clear();
  ExpectBox({}, "emptied");
  QTest::keyClicks(Edit(main.get(), "E_stopT"), "42");
  ExpectBox({}, "typed");
  EXPECT_EQ(model.Sim.StopStep, 42);
}

// The up/down controls stay within their ranges and step from the last number when the field
// holds none.
TEST_F(Battery, UpDownControlsStayInTheirRangesAndSurviveBadText) {
  struct Case {
    const char* field;
    const char* control;
    int min, max;
    int increment;
    const char* atMax;       // the maximum typed, after the check
    const char* atMaxPlus1;  // one past it typed, after the check
    const char* stepAtMax;   // one step up from either, after the check
  };
  // Where a check rewrites the maximum, the control steps from the rewritten number.
  const Case cases[] = {
      {"Edit_cellSiz", "UpD_cellSiz", 1, 50, 1, "34", "34", "34"},
      {"Edit_anzGr", "UpD_anzGr", 2, 1000, 1, "1000", "1001", "1000"},
      {"Edit_nRad", "UpD_nRad", 1, 1000, 1, "1000", "1001", "1000"},
      {"Edit_mDist", "UpD_mDist", 2, 1000, 1, "16", "16", "17"},
      {"E_clusterT", "UpD_clusterT", 1, 10000, 1, "10000", "10001", "10000"},
      {"E_nbSize", "UpD_nbSize", 1, 10000, 1, "10000", "10001", "10000"},
      {"E_startGrowWith", "UpD_startGrowWith", 1, 32000, 10, "1164", "1164", "1174"},
      {"E_growRate", "UpD_growRate", 1, 32000, 5, "1164", "1164", "1169"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    auto* upDown = main->findChild<UpDown*>(c.control);
    ASSERT_NE(upDown, nullptr);
    Set(c.field, QString::number(c.max));
    EXPECT_EQ(Text(c.field), c.atMax);
    upDown->Step(1);
    EXPECT_EQ(Text(c.field), c.stepAtMax);
    Set(c.field, QString::number(c.max + 1));
    EXPECT_EQ(Text(c.field), c.atMaxPlus1);
    upDown->Step(1);
    EXPECT_EQ(Text(c.field), c.stepAtMax);
    Set(c.field, QString::number(c.min));
    upDown->Step(-1);
    EXPECT_EQ(Text(c.field), QString::number(c.min));
    Set(c.field, QString::number(c.min - 1));
    upDown->Step(-1);
    EXPECT_EQ(Text(c.field), QString::number(c.min));
    // A text that holds no number: the control steps from its own last position.
    for (const QString& t : kNotIntegers) {
      Set(c.field, QString::number(c.min));
      upDown->Step(1);
      Set(c.field, t);
      upDown->Step(1);
      EXPECT_EQ(Text(c.field), QString::number(c.min + 2 * c.increment)) << t.toStdString();
    }
    // Every bad text gave its box; the spinner's own texts none.
    // Every bad text gave its box (the grid size 0 one more); the control's own texts none.
    const std::string field = c.field;
    EXPECT_EQ(TakeBoxes().size(),
              field == "E_clusterT" ? 0u : kNotIntegers.size() + (field == "E_nbSize"));
    SmallWorld();
  }
}

// ----- the street tab -----

QSpinBox* Spinner(QWidget* main, const char* name) {
  auto* spin = main->findChild<QSpinBox*>(name);
  EXPECT_NE(spin, nullptr) << name;
  return spin;
}

TEST_F(Battery, LayoutSpinnersHoldOnlyTheirRangeAndALayoutUsesWhatTheyShow) {
  struct Case {
    const char* spinner;
    const char* edit;
    int min, max;
  };
  const Case cases[] = {{"UpD_rows", "Ed_rows", 1, 10000},
                        {"UpD_cols", "Ed_cols", 1, 10000},
                        {"UpD_nrStr", "Ed_nrStr", 1, 10000},
                        {"UpD_strType", "Ed_strType", -3, 3}};
  Find<QCheckBox>("CB_rndTyp")->setChecked(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spinner);
    QSpinBox* spin = Spinner(main.get(), c.spinner);
    QLineEdit* edit = Edit(main.get(), c.edit);
    const int start = spin->value();
    edit->setFocus();
    QTest::keyClicks(edit, "abc");
    EXPECT_EQ(spin->value(), start);
    spin->setValue(c.max + 1);
    EXPECT_EQ(spin->value(), c.max);
    spin->setValue(c.min - 1);
    EXPECT_EQ(spin->value(), c.min);
    spin->setValue(start);
    // Text set from outside the keyboard: a layout uses the value the field then shows.
    for (const QString& t :
         {QString(""), QString("abc"), QString("-"), QString("2.5"), QString::number(c.max + 1),
          QString::number(c.min - 1), QString("99999999999999999999999")}) {
      SCOPED_TRACE(t.toStdString());
      edit->setText(t);
      Click("B_drawGrid");
      ExpectBox({}, "grid");
      EXPECT_EQ(edit->text(), QString::number(spin->value()));
      EXPECT_EQ(spin->value(), start);
      EXPECT_EQ(model.Controls.UpD_rows, Spinner(main.get(), "UpD_rows")->value());
      EXPECT_EQ(model.Controls.UpD_cols, Spinner(main.get(), "UpD_cols")->value());
      EXPECT_EQ(model.Controls.UpD_nrStr, Spinner(main.get(), "UpD_nrStr")->value());
      EXPECT_EQ(model.Controls.UpD_strType, Spinner(main.get(), "UpD_strType")->value());
    }
  }
  // The extremes make layouts too.
  for (int type : {-3, 3}) {
    Spinner(main.get(), "UpD_strType")->setValue(type);
    Spinner(main.get(), "UpD_rows")->setValue(10000);
    Spinner(main.get(), "UpD_cols")->setValue(1);
    Click("B_drawGrid");
    Spinner(main.get(), "UpD_rows")->setValue(34);
    Click("B_drawGrid");
    Spinner(main.get(), "UpD_nrStr")->setValue(1);
    Click("B_randStr");
    Spinner(main.get(), "UpD_nrStr")->setValue(200);
    Click("B_randStr");
    ExpectBox({}, "extremes");
    EXPECT_FALSE(model.Sim.StreetLines.empty());
    ExpectUsable("after the layouts");
    Click("b_delStr");
  }
}

TEST_F(Battery, MissingChoicesGiveOneMissingValueBoxAndChangeNothing) {
  // Street type 0, with and without random types.
  Spinner(main.get(), "UpD_strType")->setValue(0);
  for (bool random : {false, true}) {
    Find<QCheckBox>("CB_rndTyp")->setChecked(random);
    for (const char* button : {"B_drawGrid", "B_randStr"}) {
      SCOPED_TRACE(button);
      Click(button);
      ExpectBox("missing value|0 is not a valid street type", button);
      EXPECT_TRUE(model.Sim.StreetLines.empty());
    }
  }
  // No street type chosen for a stroke.
  Find<QComboBox>("CB_strType")->setCurrentIndex(-1);
  QTest::mousePress(Panel(), Qt::LeftButton, {}, QPoint(30, 30));
  QTest::mouseMove(Panel(), QPoint(200, 30));
  QTest::mouseRelease(Panel(), Qt::LeftButton, {}, QPoint(200, 30));
  ExpectBox("missing value|please select a street type", "stroke");
  EXPECT_TRUE(model.Sim.StreetLines.empty());
  ExpectUsable("after the refusals");
}

// Every weight row, with texts that are numbers and texts that are not; each read where a build
// needs it: row 4 everywhere, the others at a street of their type.
TEST_F(Battery, WeightTextsEndInOneBoxAndTheRunStaysStartable) {
  const std::vector<QString> bad = {"",   "abc",   "+",   "-",     ",",   ".",   "1e",
                                    "e5", "1,2,3", "0x1", "1e400", "inf", "nan", "1 5"};
  // Every kind for the row every build reads, a few for the others.
  const std::vector<QString> someBad = {"", "abc", "-", "1e", "1e400", "1,2,3"};
  const std::vector<QString> someGood = {"0,5", "1e3", "-1"};
  const std::vector<QString> good = {
      "0,5", "0.5", "1e3", "-1", "+2", " 1 ", "0", "1E-3", "99999999999999999999999"};
  auto* table = Find<QTableWidget>("SG_weight");
  Find<QCheckBox>("CB_rndTyp")->setChecked(false);
  Spinner(main.get(), "UpD_rows")->setValue(3);
  Spinner(main.get(), "UpD_cols")->setValue(3);
  // The no-street row is read by "imprint", a street type's row by a layout of that type.
  auto build = [&](int row, const QString& text) {
    table->item(row, 1)->setText(text);
    if (row == 4) {
      Click("B_imprint");
    } else {
      Spinner(main.get(), "UpD_strType")->setValue(row - 4);
      Click("B_drawGrid");
    }
  };
  for (int row = 1; row <= 7; ++row) {
    const int type = row - 4;
    const QString original = table->item(row, 1)->text();
    for (const QString& t : type == 0 ? bad : someBad) {
      SCOPED_TRACE("row " + std::to_string(row) + " = '" + t.toStdString() + "'");
      build(row, t);
      ExpectBox(FloatBox(t), "build");
      // The layout counts as changed: starting the run builds again, and refuses again.
      const bool red = Red();
      Click("B_stop");
      ExpectBox(FloatBox(t), "start");
      EXPECT_FALSE(main->Timer1()->isActive());
      EXPECT_EQ(Red(), red);
      EXPECT_EQ(table->item(row, 1)->text(), t) << "the text is lost";
      ExpectUsable("unbuilt weights", {}, true);
      table->item(row, 1)->setText(original);
      Click("B_stop");
      ExpectBox({}, "mended");
      EXPECT_TRUE(main->Timer1()->isActive());
      EXPECT_FALSE(model.Sim.StreetsChanged);
      Stop();
      Click("b_delStr");
    }
    for (const QString& t : type == 0 ? good : someGood) {
      SCOPED_TRACE("row " + std::to_string(row) + " = '" + t.toStdString() + "'");
      build(row, t);
      ExpectBox({}, "build");
      ExpectUsable("built");
      table->item(row, 1)->setText(original);
      Click("b_delStr");
    }
  }
  // A setup reads the no-street row: a bad one keeps the old run.
  main->Timer1Timer();
  const Snapshot before = Snap();
  table->item(4, 1)->setText("x");
  Set("Edit_cellSiz", "17");
  Click("B_setup");
  ExpectBox(FloatBox("x"), "setup");
  EXPECT_TRUE(Snap() == before);
  ExpectUsable("old run", {}, true);
  table->item(4, 1)->setText("1");
  Click("B_setup");
  ExpectBox({}, "mended setup");
  EXPECT_EQ(model.Sim.ColCount, 41);
}

// ----- the experiment windows -----

struct SweepWindowInfo {
  const char* name;
  const char* start;
  const char* pause;
  // The fields a new start reads; the others are read when the first value is done.
  std::vector<std::string> readAtStart;
};

class ExperimentBattery : public Battery {
 protected:
  ExperimentForm* Window(int i) {
    ExperimentForm* w[3] = {ps.get(), growth.get(), streets.get()};
    return w[i];
  }
  // A box about a sweep field is titled with the field's caption.
  static QString SweepTitled(int i, const char* field, const QString& box) {
    const std::map<std::string, QString> titles = {
        {"E_valFrom", i == 0   ? "values from"
                      : i == 1 ? "tolerance from"
                               : "nr. of streets or rows / cols from"},
        {"E_valTo", "to"},
        {"E_incre", "increment"},
        {"E_calcVals", "calculations per value"}};
    return titles.at(field) + box;
  }
  static const SweepWindowInfo& Info(int i) {
    static const SweepWindowInfo info[3] = {
        {"TForm3", "B_start", "B_break", {"E_toSteps", "E_calcVals", "E_valFrom"}},
        {"TForm4",
         "B_start",
         "B_break",
         {"E_toSteps", "E_calcVals", "E_valFrom", "E_valTo", "E_incre"}},
        {"TForm5", "S_start", "S_break", {"E_toSteps", "E_valFrom"}},
    };
    return info[i];
  }
  // One value, one run of two steps.
  void ShortSweep(int i) {
    ExperimentForm* w = Window(i);
    w->Timer()->stop();
    const char* from = i == 1 ? "10" : "2";
    const char* to = from;
    const char* increment = i == 1 ? "10" : "1";
    const char* texts[][2] = {{"E_valFrom", from},
                              {"E_valTo", to},
                              {"E_incre", increment},
                              {"E_toSteps", "2"},
                              {"E_calcVals", "1"}};
    for (auto& [name, text] : texts) Edit(w, name)->setText(text);
    if (i == 0) ps->findChild<QComboBox*>("CB_param")->setCurrentIndex(0);
    ASSERT_EQ(w->findChild<QLabel*>("Lbl_proceed")->text(), "/ 1");
  }
  void StartSweep(int i) {
    QTest::mouseClick(Window(i)->findChild<QPushButton*>(Info(i).start), Qt::LeftButton);
  }
  void RunSweep(int i) {
    RunUntil([&] { return !Window(i)->Timer()->isActive(); }, 5000);
  }
  void ExpectSweepCompletes(int i, const std::string& where) {
    StartSweep(i);
    EXPECT_TRUE(Window(i)->Timer()->isActive()) << where;
    RunSweep(i);
    EXPECT_FALSE(Window(i)->Timer()->isActive()) << where;
    ExpectBox({}, where);
    EXPECT_EQ(Window(i)->findChild<QLabel*>("Lbl_akt")->text(), "1") << where;
  }
};

// When the bad text is met: at the change (the count label), at the new start, or when the
// first value is done; every time one box, the text kept, the sweep stopped and the main run
// usable, and once mended the sweep runs through.
TEST_F(ExperimentBattery, EveryFieldOfEveryWindowEndsInOneBoxAndTheSweepRunsOnceMended) {
  const char* fields[] = {"E_valFrom", "E_valTo", "E_incre", "E_toSteps", "E_calcVals"};
  for (int i = 0; i < 3; ++i) {
    ExperimentForm* w = Window(i);
    for (const char* field : fields) {
      for (const QString& t : kSomeNotIntegers) {
        SCOPED_TRACE(std::string(Info(i).name) + "." + field + " = '" + t.toStdString() + "'");
        ShortSweep(i);
        TakeBoxes();
        const QString label = w->findChild<QLabel*>("Lbl_proceed")->text();
        Leave(Edit(w, field), t);
        const bool counted = std::string(field) != "E_toSteps";
        ExpectBox(counted ? SweepTitled(i, field, IntBox(t)) : QString(), "change");
        EXPECT_EQ(w->findChild<QLabel*>("Lbl_proceed")->text(), label);
        StartSweep(i);
        const auto& atStart = Info(i).readAtStart;
        if (std::find(atStart.begin(), atStart.end(), field) != atStart.end()) {
          ExpectBox(IntBox(t), "start");
          EXPECT_FALSE(w->Timer()->isActive());
        } else {
          EXPECT_TRUE(w->Timer()->isActive());
          RunSweep(i);
          ExpectBox(IntBox(t), "first value done");
          EXPECT_FALSE(w->Timer()->isActive());
        }
        EXPECT_EQ(Edit(w, field)->text(), t) << "the text is lost";
        ExpectUsable("main run");
        ShortSweep(i);
        TakeBoxes();
        ExpectSweepCompletes(i, "mended");
      }
    }
  }
}

// Values that are numbers but odd: zero, signs, reversed ranges, huge ones.
TEST_F(ExperimentBattery, OddNumbersInTheSweepFieldsEndInABoxOrARunThatCanBeStopped) {
  enum Outcome { Completes, RunsOn, StartBox };
  struct Case {
    int window;
    const char* field;
    const char* text;
    QString changeBox;
    Outcome outcome;
    QString box;
  };
  const QString zero = QString("|") + kZeroIncrementMessage;
  const QString range = "|Range check error";
  const QString steps0 = "|'0' is not a valid number of timesteps: it must be at least 1";
  const QString stepsNeg = "|'-2' is not a valid number of timesteps: it must be at least 1";
  const std::vector<Case> cases = {
      {0, "E_incre", "0", zero, StartBox, zero},
      {1, "E_incre", "0", zero, StartBox, zero},
      {2, "E_incre", "0", zero, StartBox, zero},
      {0, "E_incre", "-1", {}, RunsOn, {}},
      {1, "E_incre", "-10", {}, StartBox, range},
      {2, "E_incre", "-1", {}, RunsOn, {}},
      {0, "E_incre", "2147483647", {}, Completes, {}},
      {1, "E_incre", "2147483647", {}, Completes, {}},
      {2, "E_incre", "2147483647", {}, Completes, {}},
      {0, "E_valTo", "1", {}, Completes, {}},
      {1, "E_valTo", "9", {}, StartBox, range},
      {2, "E_valTo", "1", {}, Completes, {}},
      {0, "E_valFrom", "-2", {}, Completes, {}},
      {1, "E_valFrom", "-2", {}, Completes, {}},
      {2, "E_valFrom", "-2", {}, Completes, {}},
      {0, "E_valFrom", "-2147483648", {}, RunsOn, {}},
      {2, "E_valFrom", "-2147483648", {}, RunsOn, {}},
      {0, "E_toSteps", "0", {}, StartBox, steps0},
      {1, "E_toSteps", "0", {}, StartBox, steps0},
      {2, "E_toSteps", "0", {}, StartBox, steps0},
      {0, "E_toSteps", "-2", {}, StartBox, stepsNeg},
      {1, "E_toSteps", "-2", {}, StartBox, stepsNeg},
      {2, "E_toSteps", "-2", {}, StartBox, stepsNeg},
      {0, "E_toSteps", "1", {}, Completes, {}},
      {1, "E_toSteps", "1", {}, Completes, {}},
      {2, "E_toSteps", "1", {}, Completes, {}},
      {0, "E_calcVals", "0", {}, Completes, {}},
      {1, "E_calcVals", "0", {}, StartBox, range},
      {2, "E_calcVals", "0", {}, Completes, {}},
      {0, "E_calcVals", "-1", {}, StartBox, "|Function Period should be >= 0"},
      {1, "E_calcVals", "-1", {}, StartBox, range},
      {2, "E_calcVals", "-1", {}, Completes, {}},
  };
  for (const Case& c : cases) {
    ExperimentForm* w = Window(c.window);
    SCOPED_TRACE(std::string(Info(c.window).name) + "." + c.field + " = '" + c.text + "'");
    ShortSweep(c.window);
    TakeBoxes();
    Leave(Edit(w, c.field), c.text);
    ExpectBox(c.changeBox.isEmpty() ? QString() : SweepTitled(c.window, c.field, c.changeBox),
              "change");
    StartSweep(c.window);
    switch (c.outcome) {
      case StartBox:
        ExpectBox(c.box, "start");
        EXPECT_FALSE(w->Timer()->isActive());
        break;
      case Completes:
        RunSweep(c.window);
        EXPECT_FALSE(w->Timer()->isActive());
        ExpectBox({}, "sweep");
        break;
      case RunsOn:
        RunUntil([] { return false; }, 60);
        EXPECT_TRUE(w->Timer()->isActive());
        ExpectBox({}, "sweep");
        QTest::mouseClick(w->findChild<QPushButton*>(Info(c.window).pause), Qt::LeftButton);
        EXPECT_FALSE(w->Timer()->isActive());
        break;
    }
    ExpectUsable("main run");
  }
}

// Planned counts of any size are shown whole, inside the box, their caption after them.
TEST_F(ExperimentBattery, LargePlannedCountsAreShownWhole) {
  for (int i = 0; i < 3; ++i) {
    for (auto [to, total] :
         {std::pair{"2", "/ 999999999"}, {"2000000000", "/ 1999999997000000001"}}) {
      SCOPED_TRACE(std::string(Info(i).name) + " to " + to);
      ShortSweep(i);
      QWidget* w = Window(i);
      if (i == 1) Edit(w, "E_valFrom")->setText("2");
      Edit(w, "E_incre")->setText("1");
      Edit(w, "E_valTo")->setText(to);
      Edit(w, "E_calcVals")->setText("999999999");
      auto* count = w->findChild<QLabel*>("Lbl_proceed");
      EXPECT_EQ(count->text(), total);
      EXPECT_GE(count->width(), count->fontMetrics().horizontalAdvance(count->text()));
      EXPECT_LE(count->geometry().right(), count->parentWidget()->width());
      const auto captions = count->parentWidget()->findChildren<QLabel*>();
      EXPECT_TRUE(std::any_of(captions.begin(), captions.end(), [&](QLabel* c) {
        return c->text().startsWith(": calc") && c->x() > count->geometry().right() &&
               c->y() == count->y();
      }));
    }
  }
  ExpectBox({}, "counts");
}

// A main-window field a sweep's setup reads: the new start stops there and no sweep runs.
TEST_F(ExperimentBattery, AFailedSetupOfTheFirstValueStartsNoSweep) {
  for (int i = 0; i < 3; ++i) {
    for (const char* field : {"Edit_nRad", "Edit_cellSiz", "E_nbSize"}) {
      SCOPED_TRACE(std::string(Info(i).name) + " with " + field + " empty");
      ShortSweep(i);
      Set(field, "");
      TakeBoxes();
      const Snapshot before = Snap();
      StartSweep(i);
      ExpectBox(Titled(field, IntBox("")), "start");
      EXPECT_FALSE(Window(i)->Timer()->isActive());
      RunUntil([] { return false; }, 20);
      EXPECT_FALSE(Window(i)->Timer()->isActive());
      ExpectBox({}, "after the start");
      EXPECT_EQ(Snap().cols, before.cols);
      EXPECT_EQ(Snap().agents, before.agents);
      ExpectUsable("main run", {}, true);
      Set(field, SmallWorldText(field));
      TakeBoxes();
      ExpectSweepCompletes(i, "mended");
    }
  }
}

// A layout refused at the first value pauses the street sweep; it resumes once mended.
TEST_F(ExperimentBattery, StreetTypeZeroPausesTheStreetSweepWithOneBox) {
  ShortSweep(2);
  Spinner(main.get(), "UpD_strType")->setValue(0);
  StartSweep(2);
  ExpectBox("missing value|0 is not a valid street type", "start");
  EXPECT_FALSE(streets->Timer()->isActive());
  EXPECT_TRUE(model.Sim.StreetLines.empty());
  ExpectUsable("main run", {}, true);
  Spinner(main.get(), "UpD_strType")->setValue(3);
  QTest::mouseClick(streets->findChild<QPushButton*>("S_break"), Qt::LeftButton);
  EXPECT_TRUE(streets->Timer()->isActive());
  RunSweep(2);
  ExpectBox({}, "resumed");
  EXPECT_EQ(streets->findChild<QLabel*>("Lbl_akt")->text(), "1");
}

// A main-window field that goes bad while a sweep runs: the tick that reads it stops the sweep
// with one box; the model's old run is still whole.
TEST_F(ExperimentBattery, AFieldThatGoesBadDuringASweepStopsItWithOneBox) {
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(Info(i).name);
    ShortSweep(i);
    Edit(Window(i), "E_valTo")->setText(i == 1 ? "20" : "3");  // a second value to set up
    Edit(Window(i), "E_toSteps")->setText("20");
    StartSweep(i);
    ASSERT_TRUE(Window(i)->Timer()->isActive());
    Set("Edit_nRad", "");
    ExpectBox(Titled("Edit_nRad", IntBox("")), "change");
    RunSweep(i);
    ExpectBox(Titled("Edit_nRad", IntBox("")), "tick");
    EXPECT_FALSE(Window(i)->Timer()->isActive());
    ExpectUsable("main run", {}, true);
    Set("Edit_nRad", "2");
    TakeBoxes();
    ShortSweep(i);
    ExpectSweepCompletes(i, "mended");
  }
}

TEST_F(ExperimentBattery, ParameterChoiceAndPolyDegreesOfTheParameterWindow) {
  auto* choice = ps->findChild<QComboBox*>("CB_param");
  ShortSweep(0);
  const QString missing = "missing value|please select a parameter";
  // None chosen, text typed over an item, text set over an item.
  choice->setCurrentIndex(-1);
  StartSweep(0);
  ExpectBox(missing, "none");
  choice->setCurrentIndex(2);
  QTest::keyClicks(choice->lineEdit(), "5");
  StartSweep(0);
  ExpectBox(missing, "typed");
  choice->setCurrentIndex(1);
  choice->setEditText("");
  StartSweep(0);
  ExpectBox(missing, "emptied");
  EXPECT_FALSE(ps->Timer()->isActive());
  ExpectUsable("main run");
  // Every parameter sweeps.
  for (int parameter = 0; parameter < 4; ++parameter) {
    SCOPED_TRACE(parameter);
    ShortSweep(0);
    choice->setCurrentIndex(parameter);
    ExpectSweepCompletes(0, "parameter");
  }
  // The poly-degree spinners: letters refused, the range held, any degree over the few points.
  for (const char* name : {"UpD_polyDegClust", "UpD_polyDegSeg"}) {
    SCOPED_TRACE(name);
    auto* spin = ps->findChild<QSpinBox*>(name);
    ASSERT_NE(spin, nullptr);
    QTest::keyClicks(spin->findChild<QLineEdit*>(), "x-");
    EXPECT_EQ(spin->value(), 3);
    spin->setValue(21);
    EXPECT_EQ(spin->value(), 20);
    spin->setValue(1);
    EXPECT_EQ(spin->value(), 2);
    for (int degree = 2; degree <= 20; ++degree) spin->setValue(degree);
    ExpectBox({}, "degrees");
    ShortSweep(0);
    ExpectSweepCompletes(0, "degree 20");
    spin->setValue(3);
  }
}

}  // namespace
}  // namespace segwork::ui
