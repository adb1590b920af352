// A small Qt Widgets window for the snapshot checks: a menu bar, a button that changes a label,
// a check box and a line edit with a placeholder, whose text Return copies into the label.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("ax-qt-app");
  QMainWindow window;
  window.setWindowTitle("Qt Check");
  window.menuBar()->addMenu("File")->addAction("Quit", &app, &QApplication::quit);
  window.menuBar()->addMenu("Help");

  auto* central = new QWidget(&window);
  auto* layout = new QVBoxLayout(central);
  auto* label = new QLabel("Hello from Qt", central);
  auto* button = new QPushButton("Press me", central);
  auto* check = new QCheckBox("Remember me", central);
  auto* edit = new QLineEdit(central);
  edit->setPlaceholderText("Your name");
  layout->addWidget(label);
  layout->addWidget(button);
  layout->addWidget(check);
  layout->addWidget(edit);
  QObject::connect(button, &QPushButton::clicked, label, [label] { label->setText("Pressed"); });
  QObject::connect(edit, &QLineEdit::returnPressed, label,
                   [label, edit] { label->setText(edit->text()); });
  window.setCentralWidget(central);
  window.resize(360, 240);
  window.show();
  edit->setFocus();
  return app.exec();
}
