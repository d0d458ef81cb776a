// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <csignal>
#include <functional>

#include "BitmapTesting.h"
#include "FileNames.h"
#include "PictureSamples.h"

namespace {

class SavedPictures : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QStringList Entries() const {
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
  QTemporaryDir dir_;
};

struct Depth {
  const char* name;
  std::function<TBitmap()> make;
};

const std::vector<Depth>& Depths() {
  static const std::vector<Depth> table = {
      {"8 bits, short palette",
       [] {
         TBitmap b = Patterned(7, 5, TPixelFormat::pf8bit);
         for (int y = 0; y < 5; ++y)
           for (int x = 0; x < 7; ++x)
             b.ScanLine(y)[x] = static_cast<std::uint8_t>((x + y) % 3);
         b.SetPalette(TPalette({{255, 0, 0, 0}, {0, 128, 0, 0}, {1, 2, 3, 0}}));
         return b;
       }},
      {"8 bits, indices beyond a short palette",
       [] {
         TBitmap b = Patterned(7, 5, TPixelFormat::pf8bit);
         b.SetPalette(TPalette({{9, 8, 7, 0}, {6, 5, 4, 0}}));
         return b;
       }},
      {"8 bits, grey palette",
       [] {
         TBitmap b = Patterned(9, 4, TPixelFormat::pf8bit);
         b.SetPalette(TPalette::Grey());
         return b;
       }},
      {"24 bits", [] { return Patterned(7, 5, TPixelFormat::pf24bit); }},
      {"32 bits with alpha", [] { return Patterned(7, 5, TPixelFormat::pf32bit); }},
  };
  return table;
}

// The palette a saved 8-bit picture comes back with: its own, padded with black to 256 entries.
TPalette Padded(const TBitmap& bitmap) {
  std::vector<TPaletteEntry> entries = bitmap.Palette()->Entries();
  entries.resize(TPalette::MaxEntries, TPaletteEntry{0, 0, 0, 0});
  return TPalette(entries);
}

TEST_F(SavedPictures, EveryDepthRoundTripsThroughPngBmpAndTiffByteForByte) {
  for (const Depth& depth : Depths()) {
    for (const char* suffix : {"png", "bmp", "tif"}) {
      SCOPED_TRACE(std::string(depth.name) + " as " + suffix);
      const TBitmap original = depth.make();
      const QString path = Path(QStringLiteral("round trip.") + suffix);
      SavePictureFile(original, path);
      const TBitmap loaded = LoadPictureFile(path);
      ASSERT_EQ(loaded.PixelFormat(), original.PixelFormat());
      ASSERT_EQ(loaded.Width(), original.Width());
      ASSERT_EQ(loaded.Height(), original.Height());
      EXPECT_EQ(PixelBytes(loaded), PixelBytes(original));
      if (original.PixelFormat() == TPixelFormat::pf8bit) {
        ASSERT_NE(loaded.Palette(), nullptr);
        EXPECT_EQ(*loaded.Palette(), Padded(original));
      }
    }
  }
}

TEST_F(SavedPictures, EightBitBmpIsWrittenEightBitWithAFullPalette) {
  TBitmap bitmap = Patterned(3, 2, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette({{1, 2, 3, 0}}));
  SavePictureFile(bitmap, Path("few colours.bmp"));
  QFile file(Path("few colours.bmp"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_GE(bytes.size(), 54 + 1024);
  EXPECT_EQ(bytes[28], 8);                                         // bits per pixel
  EXPECT_EQ(qFromLittleEndian<quint32>(bytes.data() + 46), 256u);  // colours used
  EXPECT_EQ(bytes.mid(54, 4), QByteArray("\x03\x02\x01\x00", 4));  // blue, green, red
  EXPECT_EQ(bytes.mid(58, 4), QByteArray(4, '\0'));
}

TEST_F(SavedPictures, OtherFormatsKeepSizeAndColours) {
  TBitmap grey = Patterned(8, 8, TPixelFormat::pf8bit);
  grey.SetPalette(TPalette::Grey());
  SavePictureFile(grey, Path("grey.pgm"));
  const TBitmap pgm = LoadPictureFile(Path("grey.pgm"));
  EXPECT_EQ(PixelBytes(pgm), PixelBytes(grey));

  const TBitmap colour = Patterned(8, 8, TPixelFormat::pf24bit);
  SavePictureFile(colour, Path("colour.ppm"));
  EXPECT_EQ(PixelBytes(LoadPictureFile(Path("colour.ppm"))), PixelBytes(colour));

  TBitmap flat(16, 16, TPixelFormat::pf24bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      flat.ScanLine(y)[3 * x] = 40;
      flat.ScanLine(y)[3 * x + 1] = 120;
      flat.ScanLine(y)[3 * x + 2] = 200;
    }
  for (const char* name : {"flat.jpg", "FLAT.JPEG"}) {
    SavePictureFile(flat, Path(name));
    const TBitmap jpeg = LoadPictureFile(Path(name));
    EXPECT_EQ(jpeg.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_NEAR(qRed(ColourAt(jpeg, 5, 5)), 200, 3) << name;
  }
  SavePictureFile(grey, Path("grey.jpg"));
  EXPECT_EQ(LoadPictureFile(Path("grey.jpg")).PixelFormat(), TPixelFormat::pf8bit);
}

TEST_F(SavedPictures, UnusableRequestsAreRefusedWithoutWritingAnything) {
  const TBitmap bitmap = Patterned(4, 4, TPixelFormat::pf24bit);
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.png"));
  const struct {
    const char* name;
    QString path;
    const TBitmap* bitmap;
    PictureFault fault;
  } cases[] = {
      {"unknown extension", Path("picture.tga"), &bitmap, PictureFault::UnsupportedSaveFormat},
      {"no extension", Path("picture"), &bitmap, PictureFault::UnsupportedSaveFormat},
      {"missing folder", Path("nowhere/picture.png"), &bitmap, PictureFault::NoFolder},
      {"a folder in the way", Path("folder.png"), &bitmap, PictureFault::NotRegularFile},
      {"empty picture", Path("empty.png"), nullptr, PictureFault::NothingToSave},
  };
  const TBitmap empty;
  for (const auto& c : cases) {
    try {
      SavePictureFile(c.bitmap ? *c.bitmap : empty, c.path);
      ADD_FAILURE() << c.name;
    } catch (const PictureFileError& error) {
      EXPECT_EQ(error.Fault(), c.fault) << c.name;
      EXPECT_TRUE(error.Message().contains(QDir::toNativeSeparators(c.path))) << c.name;
    }
  }
  EXPECT_TRUE(Entries().isEmpty()) << Entries().join(' ').toStdString();
}

// A file size limit makes the write fail half-way, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST_F(SavedPictures, AFailedWriteLeavesNoPartialFileAndKeepsTheOldOne) {
  const TBitmap small = Patterned(4, 4, TPixelFormat::pf24bit);
  // Noise, so that no format compresses it below the limit.
  TBitmap large(300, 300, TPixelFormat::pf24bit);
  quint32 state = 12345;
  for (int y = 0; y < 300; ++y)
    for (std::size_t i = 0; i < large.RowBytes(); ++i) {
      state = state * 1103515245 + 12345;
      large.ScanLine(y)[i] = static_cast<std::uint8_t>(state >> 24);
    }
  for (const char* name : {"kept.bmp", "kept.png", "new.bmp", "new.png"}) {
    const QString path = Path(name);
    const bool existing = QByteArray(name).startsWith("kept");
    QByteArray before;
    if (existing) {
      SavePictureFile(small, path);
      QFile old(path);
      ASSERT_TRUE(old.open(QIODevice::ReadOnly));
      before = old.readAll();
    }
    try {
      FileSizeLimit limit(4096);
      SavePictureFile(large, path);
      ADD_FAILURE() << name << " written";
    } catch (const PictureFileError& error) {
      EXPECT_EQ(error.Fault(), PictureFault::CannotWrite) << name;
    }
    QFile after(path);
    if (existing) {
      ASSERT_TRUE(after.open(QIODevice::ReadOnly)) << name;
      EXPECT_EQ(after.readAll(), before) << name;
    } else {
      EXPECT_FALSE(after.exists()) << name;
    }
  }
  EXPECT_EQ(Entries(), (QStringList{"kept.bmp", "kept.png"}));
}

// A named pipe or a device in the way would be replaced by a file; a link to a file is followed.
TEST_F(SavedPictures, OnlyRegularFilesAreReplacedAndLinksToThemFollowed) {
  const TBitmap bitmap = Patterned(4, 4, TPixelFormat::pf24bit);
  const QString pipe = Path("pipe.png");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
  try {
    SavePictureFile(bitmap, pipe);
    ADD_FAILURE() << "written over a pipe";
  } catch (const PictureFileError& error) {
    EXPECT_EQ(error.Fault(), PictureFault::NotRegularFile);
  }
  struct stat status {};
  ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));

  const QString target = Path("target.png");
  SavePictureFile(Patterned(2, 2, TPixelFormat::pf24bit), target);
  ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
  ASSERT_TRUE(QFile::link(target, Path("link.png")));
  SavePictureFile(bitmap, Path("link.png"));
  EXPECT_TRUE(QFileInfo(Path("link.png")).isSymLink());
  EXPECT_EQ(LoadPictureFile(target).Width(), 4);
  ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u) << "the file keeps its permissions";
}

TEST(FileNames, EveryNameGoesBackByteForByteAndShowsWhatIsNotUtf8) {
  const struct {
    QByteArray bytes;
    const char* shown;
  } cases[] = {
      {"plain.png", "plain.png"},
      {"輸入 picture.png", "輸入 picture.png"},
      {"\xf0\x9f\x93\xb7.png", "\xf0\x9f\x93\xb7.png"},  // beyond the first plane: two halves
      {"\xff\xfe.png", "\\xff\\xfe.png"},
      {"o\xff.png", "o\\xff.png"},
      {"\xc0\xaf", "\\xc0\\xaf"},                    // an overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate, encoded
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"\xe8\xbc"
       "a",
       "\\xe8\\xbca"},  // cut short
      {"\xe8\xbc", "\\xe8\\xbc"},
  };
  for (const auto& c : cases) {
    const QString name = FileNameFromBytes(c.bytes);
    EXPECT_EQ(FileNameBytes(name), c.bytes) << c.shown;
    EXPECT_EQ(ShownFileName(name), QString::fromUtf8(c.shown));
    if (QString::fromUtf8(c.bytes).toUtf8() == c.bytes) {
      EXPECT_EQ(name, QString::fromUtf8(c.bytes)) << "UTF-8 names are the toolkit's";
    }
  }
}

// The names in a folder as the system has them: the toolkit's listings leave out names that are
// not UTF-8 (and so its temporary folders cannot remove them).
QList<QByteArray> RawEntries(const QByteArray& folder) {
  QList<QByteArray> names;
  DIR* dir = ::opendir(folder.constData());
  while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr)
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names << QByteArray(entry->d_name);
  if (dir != nullptr)
    ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(SavedPictures, NamesThatAreNotUtf8ReachTheFileSystemByteForByte) {
  const QByteArray dir = QFile::encodeName(dir_.path()) + '/';
  const QByteArray raw("\xff\xfe picture.png");
  const QString name = Path(FileNameFromBytes(raw));
  const TBitmap bitmap = Patterned(4, 3, TPixelFormat::pf24bit);
  SavePictureFile(bitmap, name);
  EXPECT_EQ(RawEntries(dir), QList<QByteArray>{raw});
  EXPECT_EQ(PixelBytes(LoadPictureFile(name)), PixelBytes(bitmap));
  try {
    LoadPictureFile(Path(FileNameFromBytes("\xff\xfd.png")));
    ADD_FAILURE() << "loaded";
  } catch (const PictureFileError& error) {
    EXPECT_EQ(error.Fault(), PictureFault::NotFound);
    EXPECT_TRUE(error.Message().contains(QStringLiteral("\\xff\\xfd.png")))
        << error.Message().toStdString();
  }
  // The toolkit's dialogs hand over a name typed in such a working folder relative to it.
  const QByteArray folder = dir + "\xff folder";
  ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
  char saved[PATH_MAX];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(folder.constData()), 0);
  EXPECT_NO_THROW(SavePictureFile(bitmap, QStringLiteral("./typed.png")));
  ASSERT_EQ(::chdir(saved), 0);
  EXPECT_EQ(RawEntries(folder), QList<QByteArray>{"typed.png"});
  ::unlink(folder + "/typed.png");
  ::rmdir(folder.constData());
  ::unlink(dir + raw);
}

TEST_F(SavedPictures, AFileTheUserMayNotWriteIsRefusedAndKeptWithItsOwner) {
  const QString path = Path("protected.png");
  const QByteArray bytes = FileNameBytes(path);
  SavePictureFile(Patterned(4, 4, TPixelFormat::pf24bit), path);
  ASSERT_EQ(::chmod(bytes.constData(), 0444), 0);
  {
    WithoutFilePermissionOverride asUser;
    if (!asUser.Effective())
      GTEST_SKIP() << "running with permission override that cannot be dropped";
    try {
      SavePictureFile(Patterned(8, 8, TPixelFormat::pf24bit), path);
      ADD_FAILURE() << "replaced";
    } catch (const PictureFileError& error) {
      EXPECT_EQ(error.Fault(), PictureFault::NoPermission);
      EXPECT_TRUE(error.Message().contains(QStringLiteral("權限")))
          << error.Message().toStdString();
    }
  }
  EXPECT_EQ(LoadPictureFile(path).Width(), 4);
  EXPECT_EQ(Entries(), QStringList{"protected.png"});

  // One who may write it all the same (root) replaces it: with a file of its owner, if it may.
  if (::faccessat(AT_FDCWD, bytes.constData(), W_OK, AT_EACCESS) != 0)
    return;
  const bool givenAway = ::chown(bytes.constData(), 4321, 4321) == 0;
  SavePictureFile(Patterned(8, 8, TPixelFormat::pf24bit), path);
  EXPECT_EQ(LoadPictureFile(path).Width(), 8);
  struct stat status {};
  ASSERT_EQ(::stat(bytes.constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0444u);
  if (givenAway) {
    EXPECT_EQ(status.st_uid, 4321u);
    EXPECT_EQ(status.st_gid, 4321u);
  }
}

TEST_F(SavedPictures, AReadOnlyFolderIsRefusedAndKeepsTheOldFile) {
  const QString folder = Path("locked");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + "/old.png";
  SavePictureFile(Patterned(4, 4, TPixelFormat::pf24bit), path);
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
  {
    WithoutFilePermissionOverride asUser;
    if (!asUser.Effective())
      GTEST_SKIP() << "running with permission override that cannot be dropped";
    EXPECT_THROW(SavePictureFile(Patterned(8, 8, TPixelFormat::pf24bit), path), PictureFileError);
  }
  ::chmod(QFile::encodeName(folder).constData(), 0755);
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"old.png"});
  EXPECT_EQ(LoadPictureFile(path).Width(), 4);
}

}  // namespace
