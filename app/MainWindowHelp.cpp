// Help > Contents and About.
#include "app/MainWindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace palkor {

void TMainWindow::ShowHelpContents() {
  QDialog help(this);
  help.setWindowTitle("Palkor Help");
  auto* layout = new QVBoxLayout(&help);
  auto* text = new QLabel(
      "<h3>Palkor</h3>"
      "<p>Open a game archive (File &gt; Open LGP, Ctrl+O) or a folder of extracted files "
      "(Ctrl+Shift+O), or drop one on the window. Choosing a model shows it with its "
      "first animation; choose another animation in the list beside it. Type in the "
      "search box to find a model by its file or display name.</p>"
      "<p><b>In the viewer</b>: drag to turn the model, use the wheel to zoom, drag with "
      "the right or middle button to move it, double-click to see all of it. Space plays "
      "and pauses, Left and Right step a frame, Home goes to frame 0.</p>"
      "<p><b>Editing</b>: switch on Editable, choose a bone and move the X, Y, Z trackbars; "
      "Edit &gt; Undo (Ctrl+Z) takes a change back. File &gt; Save changes (Ctrl+S) writes "
      "the animation into the archive.</p>"
      "<p>File &gt; Export glTF writes the model for Blender and game engines; File &gt; "
      "Import Animation reads an animation back, and File &gt; Import Model puts a mesh "
      "made on the same skeleton in place of the model's parts.</p>"
      "<p>View &gt; Model Browser (Ctrl+B) shows every model as a picture; View &gt; Archive "
      "Members (Ctrl+M) lists the archive's files to preview, extract, add, replace, "
      "rename, remove, compact and check them.</p>",
      &help);
  text->setWordWrap(true);
  text->setMinimumWidth(420);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &help);
  connect(buttons, &QDialogButtonBox::rejected, &help, &QDialog::reject);
  layout->addWidget(buttons);
  help.exec();
}

void TMainWindow::ShowAbout() {
  QDialog about(this);
  about.setWindowTitle("About Palkor");
  auto* layout = new QVBoxLayout(&about);
  auto* title = new QLabel("<h2>Palkor</h2>", &about);
  layout->addWidget(title);
  layout->addWidget(new QLabel(QString("Version %1").arg(PALKOR_VERSION), &about));
  layout->addWidget(new QLabel("A viewer and light editor for the 3D character models of the\n"
                               "PC release of Final Fantasy VII.\n\nQuenmark",
                               &about));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
  connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  layout->addWidget(buttons);
  about.exec();
}

} // namespace palkor
