// kestrel-artwork OUTDIR MANUAL.md: draws the program's icon files into OUTDIR and turns the
// user manual into OUTDIR/KESUSMAN.PDF. Run by the build.

#include <cstdio>

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include "app/artwork.h"

namespace {

bool WriteImage(const QImage& image, const QString& path, const char* format) {
  QImageWriter writer(path, format);
  if (writer.write(image)) return true;
  std::fprintf(stderr, "kestrel-artwork: cannot write %s: %s\n", qPrintable(path),
               qPrintable(writer.errorString()));
  return false;
}

bool WriteManual(const QString& markdown_path, const QString& pdf_path) {
  QFile source(markdown_path);
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "kestrel-artwork: cannot read %s\n", qPrintable(markdown_path));
    return false;
  }
  QPdfWriter pdf(pdf_path);
  pdf.setTitle(QStringLiteral("Kestrel V3 user manual"));
  pdf.setCreator(QStringLiteral("kestrel-artwork"));
  pdf.setResolution(300);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);

  // Laid out with the PDF's own metrics, so that the text is spaced as it will be printed.
  QTextDocument document;
  document.documentLayout()->setPaintDevice(&pdf);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(10);
  document.setDefaultFont(font);
  document.setMarkdown(QString::fromUtf8(source.readAll()));
  document.setPageSize(pdf.pageLayout().paintRectPixels(pdf.resolution()).size());
  document.print(&pdf);
  return QFile::exists(pdf_path);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestrel-artwork OUTDIR MANUAL.md\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = WriteImage(kestrel::DrawAppIcon(128), out + QStringLiteral("/kestrel.png"), "png");
  ok = WriteImage(kestrel::DrawComputerPicture(32), out + QStringLiteral("/MyComp.ico"), "ico") &&
       ok;
  ok = WriteImage(kestrel::DrawHardDiskPicture(32), out + QStringLiteral("/hdd.ico"), "ico") && ok;
  ok = WriteManual(QString::fromLocal8Bit(argv[2]), out + QStringLiteral("/KESUSMAN.PDF")) && ok;
  return ok ? 0 : 1;
}
