// The Texturiser driven as a user would, on Xvfb with real GL: small P parts opened,
// shown, edited, saved or let go, with the pictures read back.
#include "platform/images.h"
#include "texturiser/TexturiserWindow.h"

#include "fixtures/FieldWriters.h"
#include "fixtures/LGPWriter.h"
#include "fixtures/TempDir.h"
#include "fixtures/TexWriter.h"
#include "platform/Files.h"
#include "tests/gui/ScriptedDialogs.h"
#include "tests/render/ImageBaseline.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QOpenGLWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <filesystem>
#include <memory>

using namespace palkor;
using namespace palkor::fixtures;

namespace {

// Dialog answers from the script; the text each input box started with is recorded.
class TRecordingDialogs : public testing::TScriptedDialogs {
public:
  std::vector<std::string> InputStarts;
  bool InputBox(const std::string& caption, const std::string& prompt,
                std::string& value) override {
    InputStarts.push_back(value);
    return TScriptedDialogs::InputBox(caption, prompt, value);
  }
};

std::string RSD(std::vector<std::string> textures) {
  TRSDFixture rsd;
  rsd.Ply = "TWO.PLY";
  rsd.Textures = std::move(textures);
  return BuildRSD(rsd);
}

// A box as the part holds it once read (the file holds it negated).
void AddPartBox(TPFixture& p, float x, float y, float z, float sx, float sy, float sz,
                std::array<uint8_t, 4> colour, int texture = -1) {
  p.AddBox(-x, -y, -z, sx, sy, sz, colour, texture);
}

// TWO.P: along its +Z a green plain box (z 0..5), then a white box textured with TWOT.TEX
// (z 5..10), the textured group first. Stood up, the textured box is above the green one.
std::string TwoBoxes() {
  TPFixture p;
  AddPartBox(p, 0, 0, 7.5f, 4, 4, 5, {255, 255, 255, 255}, 0);
  AddPartBox(p, 0, 0, 2.5f, 4, 4, 5, {40, 200, 40, 255});
  return BuildP(p);
}

// One plain yellow box, without texture coordinates.
std::string OneBox() {
  TPFixture p;
  AddPartBox(p, 0, 0, 3, 6, 6, 6, {230, 220, 30, 255});
  return BuildP(p);
}

// The upper half red, the lower half blue.
std::string RedOverBlue() {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      std::array<uint8_t, 4> c = y < 4 ? std::array<uint8_t, 4>{220, 30, 30, 255}
                                       : std::array<uint8_t, 4>{30, 30, 220, 255};
      pixels.insert(pixels.end(), c.begin(), c.end());
    }
  return BuildPaletteTEX(8, 8, pixels);
}

enum TShade { Black, Red, Blue, Green, Yellow, White, Other };

TShade ShadeOf(QColor c) {
  const int r = c.red(), g = c.green(), b = c.blue();
  if (r < 10 && g < 10 && b < 10) return Black;
  if (r > 120 && g < 70 && b < 70) return Red;
  if (b > 120 && r < 70 && g < 70) return Blue;
  if (g > 120 && r < 70 && b < 70) return Green;
  if (r > 150 && g > 150 && b < 70) return Yellow;
  if (r > 150 && g > 150 && b > 150) return White;
  return Other;
}

// Where each shade lies in a picture: its pixel count and mean row, and the box around
// everything that is not black.
struct TPicture {
  int Width = 0, Height = 0;
  std::array<int, 7> Count{};
  std::array<double, 7> MeanY{};
  int Left = 0, Top = 0, Right = -1, Bottom = -1;

  explicit TPicture(const QImage& image) : Width(image.width()), Height(image.height()) {
    Left = Width;
    Top = Height;
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        TShade shade = ShadeOf(image.pixelColor(x, y));
        ++Count[shade];
        MeanY[shade] += y;
        if (shade == Black) continue;
        Left = std::min(Left, x);
        Right = std::max(Right, x);
        Top = std::min(Top, y);
        Bottom = std::max(Bottom, y);
      }
    for (size_t s = 0; s < Count.size(); ++s)
      if (Count[s] > 0) MeanY[s] /= Count[s];
  }
  bool Has(TShade shade) const { return Count[shade] > 100; }
  int DrawnHeight() const { return Bottom - Top + 1; }
  int DrawnWidth() const { return Right - Left + 1; }
  QString Describe() const {
    return QString("drawn %1x%2 at %3,%4 in %5x%6; red %7 blue %8 green %9 yellow %10 white %11")
        .arg(DrawnWidth())
        .arg(DrawnHeight())
        .arg(Left)
        .arg(Top)
        .arg(Width)
        .arg(Height)
        .arg(Count[Red])
        .arg(Count[Blue])
        .arg(Count[Green])
        .arg(Count[Yellow])
        .arg(Count[White]);
  }
};

} // namespace

class TexturiserTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Dir;
  std::unique_ptr<TRecordingDialogs> Script;
  std::unique_ptr<TTexturiserWindow> Tex;

  std::string File(const char* name) const { return Dir->File(name); }

  // The window's control of that object name.
  template <typename T>
  T* Child(const char* name) const {
    T* child = Tex->findChild<T*>(name);
    if (!child) qFatal("The Texturiser has no %s", name);
    return child;
  }

  // What an undo puts back: the bytes Save P writes, both lists and the picture.
  struct TState {
    std::string Bytes;
    QStringList Lists;
    QImage Picture;
    bool operator==(const TState&) const = default;
  };
  TState State() const {
    QApplication::processEvents();
    TState state{Tex->Document().Bytes(), {}, Child<QOpenGLWidget>("View")->grabFramebuffer()};
    for (const char* name : {"lbGroups", "lbVerts"}) {
      auto* list = Child<QListWidget>(name);
      for (int row = 0; row < list->count(); ++row)
        state.Lists << (row == list->currentRow() ? "> " : "") + list->item(row)->text();
      state.Lists << "";
    }
    return state;
  }

  TPicture Picture() const {
    QApplication::processEvents();
    return TPicture(Child<QOpenGLWidget>("View")->grabFramebuffer());
  }

  // TWO.P opened and its RSD loaded.
  void OpenTwoWithTexture() {
    Tex->OpenP(File("TWO.P"));
    Tex->LoadRSD(File("TWO.RSD"));
  }

  // Group row (from 0) chosen, then the pop-up menu's action.
  void GroupCommand(int row, const char* action) {
    Child<QListWidget>("lbGroups")->setCurrentRow(row);
    Child<QAction>(action)->trigger();
  }

private slots:
  void init() {
    Dir = std::make_unique<TTempDir>();
    Script = std::make_unique<TRecordingDialogs>();
    SetDialogs(Script.get());
    WriteFile(File("TWO.P"), TwoBoxes());
    WriteFile(File("TWOT.TEX"), RedOverBlue());
    WriteFile(File("TWO.RSD"), RSD({"TWOT.TIM"}));
    WriteFile(File("ONE.P"), OneBox());
    Tex = std::make_unique<TTexturiserWindow>();
    Tex->show();
    QVERIFY(QTest::qWaitForWindowExposed(Tex.get()));
  }
  void cleanup() {
    Tex.reset();
    SetDialogs(nullptr);
    Script.reset();
    Dir.reset();
  }

  // Load Image: a picture into the texture's TEX file beside the RSD, shown at once.
  void loadImageWritesThePictureIntoTheTextureFileAndShowsIt() {
    OpenTwoWithTexture();
    QVERIFY(Picture().Has(Red));
    std::vector<uint8_t> yellow;
    for (int i = 0; i < 4 * 4; ++i) yellow.insert(yellow.end(), {255, 255, 0, 255});
    WritePNG(File("yellow.png"), 4, 4, yellow.data(), 4);
    Script->FileAnswers.push_back(File("yellow.png"));
    Child<QPushButton>("bLoadImage")->click();
    QVERIFY(Script->Errors.empty());
    TPicture loaded = Picture();
    QVERIFY2(loaded.Has(Yellow) && !loaded.Has(Red) && !loaded.Has(Blue),
             qPrintable(loaded.Describe()));
    TMemoryStream file;
    file.LoadFromFile(File("TWOT.TEX"));
    QCOMPARE(LoadTEX(file, TEXDataOffset)->Pixels, yellow);

    // Not a picture: one error, the file and the texture as they were.
    WriteFile(File("text.png"), "no picture");
    Script->FileAnswers.push_back(File("text.png"));
    Child<QPushButton>("bLoadImage")->click();
    QCOMPARE(int(Script->Errors.size()), 1);
    file.LoadFromFile(File("TWOT.TEX"));
    QCOMPARE(LoadTEX(file, TEXDataOffset)->Pixels, yellow);
    QVERIFY(Picture().Has(Yellow));
  }

  void anOpenedPartIsDrawnAtOnceFillingTheViewTheRightWayUp() {
    Tex->OpenP(File("TWO.P"));
    // Both groups before any texture: the textured one in its own colour.
    TPicture open = Picture();
    QVERIFY2(open.Has(Green) && open.Has(White), qPrintable(open.Describe()));
    QVERIFY2(open.MeanY[White] < open.MeanY[Green], qPrintable(open.Describe()));
    // The whole part inside the view, filling most of its height.
    QVERIFY2(open.Left > 0 && open.Top > 0 && open.Right < open.Width - 1 &&
                 open.Bottom < open.Height - 1,
             qPrintable(open.Describe()));
    QVERIFY2(open.DrawnHeight() > open.Height * 0.7, qPrintable(open.Describe()));
    QVERIFY(std::abs((open.Top + open.Bottom) / 2 - open.Height / 2) < open.Height / 10);

    // The texture reads the right way up, above the plain box.
    Tex->LoadRSD(File("TWO.RSD"));
    TPicture textured = Picture();
    QVERIFY2(textured.Has(Red) && textured.Has(Blue) && textured.Has(Green) && !textured.Has(White),
             qPrintable(textured.Describe()));
    QVERIFY(textured.MeanY[Red] < textured.MeanY[Blue]);
    QVERIFY(textured.MeanY[Blue] < textured.MeanY[Green]);

    // Zoom moves the eye away from the part's centre, Rotate turns it about its centre.
    const int framed = textured.DrawnHeight();
    Child<QSlider>("trkZoom")->setValue(Child<QSlider>("trkZoom")->value() * 2);
    TPicture far = Picture();
    QVERIFY2(far.DrawnHeight() > framed * 0.35 && far.DrawnHeight() < framed * 0.65,
             qPrintable(far.Describe()));
    Child<QSlider>("TrkX")->setValue(180);
    TPicture turned = Picture();
    QVERIFY2(turned.MeanY[Green] < turned.MeanY[Red], qPrintable(turned.Describe()));
    QVERIFY(std::abs((turned.Top + turned.Bottom) / 2 - turned.Height / 2) < turned.Height / 10);

    // Another part is framed afresh.
    Tex->OpenP(File("ONE.P"));
    QCOMPARE(Child<QSlider>("TrkX")->value(), 0);
    TPicture one = Picture();
    QVERIFY2(one.Has(Yellow) && one.DrawnHeight() > one.Height * 0.6, qPrintable(one.Describe()));
    // Its one coordinate row says it has none: chosen, it marks no vertex.
    const QImage unmarked = State().Picture;
    Child<QListWidget>("lbVerts")->setCurrentRow(0);
    QCOMPARE(Child<QListWidget>("lbVerts")->currentItem()->text(), QString("(Unsuitable)"));
    QVERIFY(Child<QListWidget>("lbVerts")->currentItem()->toolTip().contains("Add Tex Data"));
    QVERIFY(State().Picture == unmarked);
    QVERIFY(Script->Errors.empty());
  }

  void editsKeepTheTexturesAndTheGroupOnDisplay() {
    OpenTwoWithTexture();
    // A coordinate typed in: still textured, with the same texture.
    Script->InputAnswers = {"0.5", "0.5"};
    Tex->SetTexCoord(5);
    QCOMPARE(Child<QListWidget>("lbVerts")->item(5)->text(), QString("Vert 6 - 0.50/0.50"));
    TPicture edited = Picture();
    QVERIFY2(edited.Has(Red) && edited.Has(Blue) && edited.Has(Green),
             qPrintable(edited.Describe()));
    QCOMPARE(Tex->Textures().Count(), size_t(1));
    QCOMPARE(Tex->Part().Textures.size(), size_t(1));

    // Texture Off then On: plain white, then the texture again.
    GroupCommand(0, "mTextureOff");
    TPicture plain = Picture();
    QVERIFY2(plain.Has(White) && !plain.Has(Red), qPrintable(plain.Describe()));
    // Cancel at "Normals on?" leaves the group untextured.
    const std::string off = Tex->Document().Bytes();
    Script->Answers.push_back(TDialogs::TAnswer::Cancel);
    GroupCommand(0, "mTextureOn");
    QVERIFY(Tex->Document().Bytes() == off);
    Script->Answers.push_back(TDialogs::TAnswer::No);
    GroupCommand(0, "mTextureOn");
    QCOMPARE(Tex->Part().Groups[0].PrimType, 3);
    QVERIFY(Picture().Has(Red));

    // Display This: only the green group, through an edit too; Display All brings all back.
    GroupCommand(1, "mDisplayThis");
    Script->InputAnswers = {"1", "0"};
    Tex->SetTexCoord(0);
    TPicture only = Picture();
    QVERIFY2(only.Has(Green) && !only.Has(Red) && !only.Has(Blue), qPrintable(only.Describe()));
    GroupCommand(1, "mDisplayAll");
    QVERIFY(Picture().Has(Red));

    // Another part comes with every group on display and without the textures.
    GroupCommand(1, "mDisplayThis");
    Script->Answers.push_back(TDialogs::TAnswer::No); // TWO.P's edits not saved
    Tex->OpenP(File("ONE.P"));
    QCOMPARE(Tex->Switches().DisplayGroup, 0);
    QVERIFY(Tex->Part().Textures.empty() && Tex->Textures().Count() == 0);
    QVERIFY(Picture().Has(Yellow));
    // Add Tex Data keeps it drawn.
    Tex->AddTexData();
    QCOMPARE(Child<QListWidget>("lbVerts")->count(), 24);
    QVERIFY(Picture().Has(Yellow));
    QCOMPARE(Script->Errors, std::vector<std::string>{});
  }

  // Save P waits for a file, Add Tex Data for a part without texture coordinates.
  void saveAndAddTexDataWaitUntilTheyCanWork() {
    auto enabled = [&] {
      return std::pair{Child<QPushButton>("bSaveP")->isEnabled(),
                       Child<QPushButton>("bAddTexData")->isEnabled()};
    };
    QCOMPARE(enabled(), std::pair(false, false));
    Tex->OpenP(File("ONE.P"));
    QCOMPARE(enabled(), std::pair(true, true));
    Child<QPushButton>("bAddTexData")->click();
    QCOMPARE(enabled(), std::pair(true, false));
    Child<QAction>("mUndo")->trigger();
    QCOMPARE(enabled(), std::pair(true, true));
    Tex->OpenP(File("TWO.P"));
    QCOMPARE(enabled(), std::pair(true, false));
    QVERIFY(Script->Errors.empty());
  }

  void fileChoicesStartAtTheOpenPFile() {
    std::string other = File("other");
    std::filesystem::create_directory(other);
    WriteFile(other + "/BROKEN.P", TwoBoxes().substr(0, 300));

    // Load RSD wants a P file open, and asks for nothing before.
    Child<QPushButton>("bLoadRSD")->click();
    QCOMPARE(Script->Errors, std::vector<std::string>{"No P file is open: use Open P first"});
    QVERIFY(Script->FileStarts.empty());

    // The first Open P starts where the system chooses; a file that fails is remembered.
    Script->FileAnswers = {other + "/BROKEN.P", File("TWO.P"), File("TWO.RSD"), ""};
    Child<QPushButton>("bOpenP")->click();
    QCOMPARE(Script->Errors.size(), size_t(2));
    QVERIFY(Tex->Document().FileName().empty());
    Child<QPushButton>("bOpenP")->click();
    QCOMPARE(Tex->Document().FileName(), File("TWO.P"));
    Child<QPushButton>("bLoadRSD")->click();
    QCOMPARE(Tex->Part().Textures.size(), size_t(1));
    Child<QPushButton>("bOpenP")->click(); // cancelled
    QCOMPARE(Script->FileStarts,
             (std::vector<std::string>{"", other + "/BROKEN.P", File("TWO.P"), File("TWO.P")}));
    QCOMPARE(Tex->Document().FileName(), File("TWO.P"));
  }

  void coordinateBoxesStartAtTheRowAndCheckEachValueWhenGiven_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("row");
    QTest::newRow("both given") << QStringList{"0.25", "-2.5e-1"} << QStringList{"1", "0"} << ""
                                << "Vert 3 - 0.25/-0.25";
    QTest::newRow("both kept") << QStringList{"1", "0"} << QStringList{"1", "0"} << ""
                               << "Vert 3 - 1.00/0.00";
    // A bad value is said and asked for again, as typed; the value before it stays.
    QTest::newRow("bad U") << QStringList{"x", "0.25", "-0.25"} << QStringList{"1", "x", "0"}
                           << "'x' is not a valid floating point value"
                           << "Vert 3 - 0.25/-0.25";
    QTest::newRow("U beyond a float") << QStringList{"1e39"} << QStringList{"1", "1e39"}
                                      << "'1e39' is too large for a texture coordinate"
                                      << "Vert 3 - 1.00/0.00";
    QTest::newRow("bad V") << QStringList{"0.25", "0,5", "-0.25"} << QStringList{"1", "0", "0,5"}
                           << "'0,5' is not a valid floating point value"
                           << "Vert 3 - 0.25/-0.25";
    QTest::newRow("U cancelled") << QStringList{} << QStringList{"1"} << ""
                                 << "Vert 3 - 1.00/0.00";
    QTest::newRow("V cancelled") << QStringList{"0.5"} << QStringList{"1", "0"} << ""
                                 << "Vert 3 - 1.00/0.00";
  }
  void coordinateBoxesStartAtTheRowAndCheckEachValueWhenGiven() {
    QFETCH(QStringList, answers);
    QFETCH(QStringList, starts);
    QFETCH(QString, error);
    QFETCH(QString, row);
    Tex->OpenP(File("TWO.P"));
    // The title names the file; the rows of a part without coordinates say why.
    QCOMPARE(Tex->windowTitle(), QString("TWO.P \u2014 Texturiser"));
    const std::string before = Tex->Document().Bytes();
    QCOMPARE(Child<QListWidget>("lbVerts")->item(2)->text(), QString("Vert 3 - 1.00/0.00"));
    for (const QString& answer : answers) Script->InputAnswers.push_back(answer.toStdString());
    // As a double click on the row does it.
    QListWidgetItem* item = Child<QListWidget>("lbVerts")->item(2);
    Child<QListWidget>("lbVerts")->scrollToItem(item);
    const QPoint at = Child<QListWidget>("lbVerts")->visualItemRect(item).center();
    QTest::mouseClick(Child<QListWidget>("lbVerts")->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(Child<QListWidget>("lbVerts")->viewport(), Qt::LeftButton, {}, at);
    // U starts at the row's U, V (when asked) at its V.
    std::vector<std::string> expected;
    for (const QString& start : starts) expected.push_back(start.toStdString());
    QCOMPARE(Script->InputStarts, expected);
    QCOMPARE(Script->Errors.size(), size_t(error.isEmpty() ? 0 : 1));
    if (!error.isEmpty()) QCOMPARE(QString::fromStdString(Script->Errors[0]), error);
    QCOMPARE(Child<QListWidget>("lbVerts")->item(2)->text(), row);
    const bool written = QString("Vert 3 - 1.00/0.00") != row;
    QCOMPARE(Tex->Document().Bytes() != before, written);
    QCOMPARE(Tex->Modified(), written);
    if (written) { // the next edit of the row starts at its new values
      Script->InputStarts.clear();
      Script->InputAnswers = {"0.25", "-0.25"};
      Tex->SetTexCoord(2);
      QCOMPARE(Script->InputStarts, (std::vector<std::string>{"0.25", "-0.25"}));
    }
  }

  void unsavedEditsAreAskedAboutBeforeTheyGo_data() {
    QTest::addColumn<bool>("byClosing"); // else by opening ONE.P
    QTest::addColumn<int>("answer");
    for (bool closing : {true, false}) {
      const char* how = closing ? "close, " : "open, ";
      QTest::newRow(qPrintable(QString(how) + "Yes")) << closing << int(TDialogs::TAnswer::Yes);
      QTest::newRow(qPrintable(QString(how) + "No")) << closing << int(TDialogs::TAnswer::No);
      QTest::newRow(qPrintable(QString(how) + "Cancel"))
          << closing << int(TDialogs::TAnswer::Cancel);
    }
  }
  void unsavedEditsAreAskedAboutBeforeTheyGo() {
    QFETCH(bool, byClosing);
    QFETCH(int, answer);
    const std::string original = ReadFileBytes(File("TWO.P"));
    auto leave = [&] {
      if (byClosing)
        Tex->close();
      else
        Tex->OpenP(File("ONE.P"));
    };
    // Nothing changed: nothing asked.
    Tex->OpenP(File("TWO.P"));
    leave();
    QVERIFY(Script->Questions.empty());
    if (byClosing) {
      QVERIFY(!Tex->isVisible());
      Tex->show();
    }
    Tex->OpenP(File("TWO.P"));
    GroupCommand(0, "mTextureOff");
    const std::string edited = Tex->Document().Bytes();
    QVERIFY(Tex->Modified());
    Script->Answers.push_back(TDialogs::TAnswer(answer));
    leave();
    QCOMPARE(Script->Questions, std::vector<std::string>{"The P file has been changed. Save it?"});
    switch (TDialogs::TAnswer(answer)) {
    case TDialogs::TAnswer::Yes:
      QCOMPARE(ReadFileBytes(File("TWO.P")), edited);
      break;
    case TDialogs::TAnswer::No:
      QCOMPARE(ReadFileBytes(File("TWO.P")), original);
      break;
    case TDialogs::TAnswer::Cancel:
      QCOMPARE(ReadFileBytes(File("TWO.P")), original);
      QVERIFY(Tex->isVisible());
      QCOMPARE(Tex->Document().FileName(), File("TWO.P"));
      QCOMPARE(Tex->Document().Bytes(), edited);
      return;
    }
    QCOMPARE(Tex->isVisible(), !byClosing);
    QVERIFY(!Tex->Modified());
    if (byClosing) // opened again, the window shows the file as it is on disk
      QCOMPARE(Tex->Document().Bytes(), ReadFileBytes(File("TWO.P")));
    else
      QCOMPARE(Tex->Document().FileName(), File("ONE.P"));
    QVERIFY(Script->Errors.empty());
  }

  void aSaveThatFailsKeepsTheWindowAndTheEdits() {
    std::filesystem::create_directory(File("sub"));
    WriteFile(File("sub/TWO.P"), TwoBoxes());
    Tex->OpenP(File("sub/TWO.P"));
    GroupCommand(0, "mTextureOff");
    const std::string edited = Tex->Document().Bytes();
    std::filesystem::rename(File("sub"), File("moved"));
    Script->Answers = {TDialogs::TAnswer::Yes, TDialogs::TAnswer::Yes};
    Tex->close();
    QCOMPARE(Script->Errors.size(), size_t(1));
    QVERIFY(Tex->isVisible());
    bool refused = false;
    try {
      Tex->OpenP(File("ONE.P"));
    } catch (const Exception&) {
      refused = true;
    }
    QVERIFY(refused);
    QCOMPARE(Tex->Document().FileName(), File("sub/TWO.P"));
    QCOMPARE(Tex->Document().Bytes(), edited);
    QVERIFY(Tex->Modified());
  }

  void aTextureFileMissingKeepsTheTexturesShown() {
    OpenTwoWithTexture();
    WriteFile(File("LOST.RSD"), RSD({"TWOT.TIM", "LOST.TIM"}));
    Guarded([&] { Tex->LoadRSD(File("LOST.RSD")); });
    QCOMPARE(Script->Errors.size(), size_t(1));
    QCOMPARE(Tex->Part().Textures.size(), size_t(1));
    TPicture picture = Picture();
    QVERIFY2(picture.Has(Red) && picture.Has(Blue), qPrintable(picture.Describe()));
  }

  void undoAndRedoPutBackTheFileTheListsAndThePicture_data() {
    QTest::addColumn<QString>("edit");
    for (const char* edit : {"Add Tex Data", "Change TexCoord", "Texture On", "Texture Off"})
      QTest::newRow(edit) << edit;
  }
  void undoAndRedoPutBackTheFileTheListsAndThePicture() {
    QFETCH(QString, edit);
    if (edit == "Add Tex Data")
      Tex->OpenP(File("ONE.P"));
    else
      OpenTwoWithTexture();
    // The rows a user has chosen before the edit, marking vertex 9 in the picture: a
    // corner of the textured box's face towards the eye.
    Child<QListWidget>("lbGroups")->setCurrentRow(edit == "Texture On" ? 1 : 0);
    Child<QListWidget>("lbVerts")->setCurrentRow(edit == "Add Tex Data" ? -1 : 8);
    QVERIFY(QTest::qWaitForWindowActive(Tex.get()));
    const TState opened = State();
    if (edit == "Add Tex Data") {
      Tex->AddTexData();
    } else if (edit == "Change TexCoord") {
      Script->InputAnswers = {"0", "0"}; // from (0, 1): more of the texture's red half
      Tex->SetTexCoord(8);
    } else if (edit == "Texture On") {
      Script->Answers.push_back(TDialogs::TAnswer::No);
      Child<QAction>("mTextureOn")->trigger();
    } else {
      Child<QAction>("mTextureOff")->trigger();
    }
    const TState edited = State();
    QVERIFY(edited.Bytes != opened.Bytes);
    // Texture On and Off show in the picture only; a coordinate in the list and the picture.
    if (!edit.startsWith("Texture")) QVERIFY(edited.Lists != opened.Lists);
    if (edit != "Add Tex Data") QVERIFY(edited.Picture != opened.Picture);
    QVERIFY(Tex->Modified());
    QCOMPARE(Child<QAction>("mUndo")->text(), "&Undo " + edit);

    auto keys = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
      QTest::keyClick(Tex.get(), key, modifiers);
      return State();
    };
    QVERIFY(keys(Qt::Key_Z, Qt::ControlModifier) == opened);
    QVERIFY(!Tex->Modified());
    QVERIFY(!Child<QAction>("mUndo")->isEnabled());
    QCOMPARE(Child<QAction>("mRedo")->text(), "&Redo " + edit);
    QVERIFY(keys(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier) == edited);
    QVERIFY(Tex->Modified());
    QVERIFY(keys(Qt::Key_Z, Qt::ControlModifier) == opened);
    QVERIFY(keys(Qt::Key_Y, Qt::ControlModifier) == edited);
    // The menu's actions do the same, and Save P writes the bytes as undone.
    Child<QAction>("mUndo")->trigger();
    Tex->SaveP();
    QCOMPARE(ReadFileBytes(Tex->Document().FileName()), opened.Bytes);
    QVERIFY(State() == opened);
    QCOMPARE(Tex->Textures().Count(), size_t(edit == "Add Tex Data" ? 0 : 1));
    QCOMPARE(Script->Errors, std::vector<std::string>{});
  }

  void theFileAsSavedIsTheUndoStacksCleanState() {
    const std::string original = ReadFileBytes(File("TWO.P"));
    auto* undo = Child<QAction>("mUndo");
    auto* redo = Child<QAction>("mRedo");
    auto status = [&] { return Child<QLabel>("lblStatus")->text().toStdString(); };
    OpenTwoWithTexture();
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
    GroupCommand(0, "mTextureOff");
    const std::string edited = Tex->Document().Bytes();
    Tex->SaveP();
    QVERIFY(!Tex->Modified());
    // Undone past the save, the bytes differ from the file again: closing asks, and Yes
    // saves them.
    undo->trigger();
    QVERIFY(Tex->Modified());
    QCOMPARE(status(), File("TWO.P") + " changed: not saved yet");
    Script->Answers = {TDialogs::TAnswer::Yes};
    Tex->close();
    QCOMPARE(Script->Questions.size(), size_t(1));
    QCOMPARE(ReadFileBytes(File("TWO.P")), original);
    Tex->show();
    // Redo still reaches the edit, which is no longer what the file holds.
    redo->trigger();
    QCOMPARE(Tex->Document().Bytes(), edited);
    QVERIFY(Tex->Modified());
    undo->trigger();
    QCOMPARE(status(), File("TWO.P") + " as saved");

    // Dropped edits and another file's open leave nothing to undo or redo.
    GroupCommand(0, "mTextureOff");
    Script->Answers = {TDialogs::TAnswer::No};
    Tex->OpenP(File("ONE.P"));
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
    // An edit that changes no byte (the group is plain already), or that fails, is no step.
    GroupCommand(0, "mTextureOff");
    QVERIFY(!undo->isEnabled() && !Tex->Modified());
    Tex->AddTexData();
    Guarded([&] { Tex->AddTexData(); });
    QCOMPARE(Script->Errors, std::vector<std::string>{"This part already has texture data"});
    undo->trigger();
    QVERIFY(!undo->isEnabled() && !Tex->Modified());
    QCOMPARE(Child<QListWidget>("lbVerts")->item(0)->text(), QString("(Unsuitable)"));
    QCOMPARE(ReadFileBytes(File("TWO.P")), original);
  }

  void theStatusLineSaysWhatWasDone() {
    auto status = [&] { return Child<QLabel>("lblStatus")->text().toStdString(); };
    Tex->OpenP(File("TWO.P"));
    QCOMPARE(status(), "Opened " + File("TWO.P") + ": 2 groups, 24 texture coordinates");
    Tex->LoadRSD(File("TWO.RSD"));
    QCOMPARE(status(), "Loaded 1 texture from " + File("TWO.RSD"));
    GroupCommand(0, "mTextureOff");
    QCOMPARE(status(), File("TWO.P") + " changed: not saved yet");
    Child<QPushButton>("bSaveP")->click();
    const int64_t size = int64_t(ReadFileBytes(File("TWO.P")).size());
    QCOMPARE(status(), "Saved " + File("TWO.P") + " (" + std::to_string(size) + " bytes)");
    QCOMPARE(ReadFileBytes(File("TWO.P")), Tex->Document().Bytes());
    Tex->OpenP(File("ONE.P"));
    QCOMPARE(status(), "Opened " + File("ONE.P") + ": 1 group, no texture coordinates");
  }

  // The whole picture of a textured part, turned, as the Texturiser draws it, against its
  // baseline. The view is given a fixed size so that the picture does not follow the
  // window's layout.
  void aTurnedTexturedPartMatchesItsBaseline() {
    Child<QOpenGLWidget>("View")->setFixedSize(240, 240);
    Tex->layout()->activate();
    QApplication::processEvents();
    OpenTwoWithTexture();
    Child<QSlider>("TrkX")->setValue(25);
    Child<QSlider>("TrkY")->setValue(35);
    QApplication::processEvents();
    const QImage image =
        Child<QOpenGLWidget>("View")->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    std::vector<uint8_t> rgb;
    for (int y = 0; y < image.height(); ++y)
      rgb.insert(rgb.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 3);
    const auto result =
        testing::CompareWithBaseline("texturiser-part", image.width(), image.height(), rgb);
    QVERIFY2(result.Matches, result.Message.c_str());
  }
};

QTEST_MAIN(TexturiserTest)
#include "TexturiserTest.moc"
