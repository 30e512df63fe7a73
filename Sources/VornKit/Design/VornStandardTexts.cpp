#include "VornStandardTexts.h"

#include "VornLanguageControls.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstring>
#include <string_view>

namespace {

struct StandardText {
    std::string_view source;  // Qt's source text, with its mnemonic marker
    std::string_view en;      // the same without the marker: the key of other languages' catalogs
    std::string_view tr;
};

// Every Qt text the program can show: dialog buttons, the file chooser and its model, the edit
// menus of fields and selectable labels, and the scroll bar's menu.
constexpr StandardText standardTexts[] = {
    {"OK", "OK", "Tamam"},
    {"Save", "Save", "Kaydet"},
    {"Save All", "Save All", "Tümünü Kaydet"},
    {"Open", "Open", "Aç"},
    {"&Yes", "Yes", "Evet"},
    {"Yes to &All", "Yes to All", "Tümüne Evet"},
    {"&No", "No", "Hayır"},
    {"N&o to All", "No to All", "Tümüne Hayır"},
    {"Abort", "Abort", "Durdur"},
    {"Retry", "Retry", "Yeniden Dene"},
    {"Ignore", "Ignore", "Yok Say"},
    {"Close", "Close", "Kapat"},
    {"Cancel", "Cancel", "İptal"},
    {"Discard", "Discard", "Değişiklikleri At"},
    {"Don't Save", "Don't Save", "Kaydetme"},
    {"Close without Saving", "Close without Saving", "Kaydetmeden Kapat"},
    {"Help", "Help", "Yardım"},
    {"Apply", "Apply", "Uygula"},
    {"Reset", "Reset", "Sıfırla"},
    {"Restore Defaults", "Restore Defaults", "Varsayılanları Geri Yükle"},
    {"Look in:", "Look in:", "Konum:"},
    {"File &name:", "File name:", "Dosya adı:"},
    {"File name", "File name", "Dosya adı"},
    {"Files of type:", "Files of type:", "Dosya türü:"},
    {"Back", "Back", "Geri"},
    {"Forward", "Forward", "İleri"},
    {"Parent Directory", "Parent Directory", "Üst Klasör"},
    {"Create New Folder", "Create New Folder", "Yeni Klasör Oluştur"},
    {"List View", "List View", "Liste Görünümü"},
    {"Detail View", "Detail View", "Ayrıntı Görünümü"},
    {"Sidebar", "Sidebar", "Kenar Çubuğu"},
    {"&Open", "Open", "Aç"},
    {"&Save", "Save", "Kaydet"},
    {"&Choose", "Choose", "Seç"},
    {"Save As", "Save As", "Farklı Kaydet"},
    {"Find Directory", "Find Directory", "Klasör Bul"},
    {"Directory:", "Directory:", "Klasör:"},
    {"Directories", "Directories", "Klasörler"},
    {"All Files (*)", "All Files (*)", "Tüm Dosyalar (*)"},
    {"New Folder", "New Folder", "Yeni Klasör"},
    {"&New Folder", "New Folder", "Yeni Klasör"},
    {"&Rename", "Rename", "Yeniden Adlandır"},
    {"&Delete", "Delete", "Sil"},
    {"Show &hidden files", "Show hidden files", "Gizli dosyaları göster"},
    {"Recent Places", "Recent Places", "Son Konumlar"},
    {"File Folder", "File Folder", "Dosya Klasörü"},
    {"Folder", "Folder", "Klasör"},
    {"Alias", "Alias", "Takma Ad"},
    {"Shortcut", "Shortcut", "Kısayol"},
    {"Unknown", "Unknown", "Bilinmiyor"},
    {"My Computer", "My Computer", "Bilgisayar"},
    {"Computer", "Computer", "Bilgisayar"},
    {"Are you sure you want to delete '%1'?", "Are you sure you want to delete '%1'?",
     "'%1' silinsin mi?"},
    {"%1\nFile not found.\nPlease verify the correct file name was given.",
     "%1\nFile not found.\nPlease verify the correct file name was given.",
     "%1\nDosya bulunamadı.\nLütfen dosya adının doğru yazıldığını denetleyin."},
    {"%1\nDirectory not found.\nPlease verify the correct directory name was given.",
     "%1\nDirectory not found.\nPlease verify the correct directory name was given.",
     "%1\nKlasör bulunamadı.\nLütfen klasör adının doğru yazıldığını denetleyin."},
    {"Name", "Name", "Ad"},
    {"Size", "Size", "Boyut"},
    {"Type", "Type", "Tür"},
    {"Kind", "Kind", "Tür"},
    {"Date Modified", "Date Modified", "Değiştirilme Tarihi"},
    {"&Undo", "Undo", "Geri Al"},
    {"&Redo", "Redo", "Yinele"},
    {"Cu&t", "Cut", "Kes"},
    {"&Copy", "Copy", "Kopyala"},
    {"Copy &Link Location", "Copy Link Location", "Bağlantı Konumunu Kopyala"},
    {"&Paste", "Paste", "Yapıştır"},
    {"Delete", "Delete", "Sil"},
    {"Select All", "Select All", "Tümünü Seç"},
    {"&Select All", "Select All", "Tümünü Seç"},
    {"Scroll here", "Scroll here", "Buraya kaydır"},
    {"Left edge", "Left edge", "Sol kenar"},
    {"Top", "Top", "En üst"},
    {"Right edge", "Right edge", "Sağ kenar"},
    {"Bottom", "Bottom", "En alt"},
    {"Page left", "Page left", "Sayfa sola"},
    {"Page up", "Page up", "Sayfa yukarı"},
    {"Page right", "Page right", "Sayfa sağa"},
    {"Page down", "Page down", "Sayfa aşağı"},
    {"Scroll left", "Scroll left", "Sola kaydır"},
    {"Scroll up", "Scroll up", "Yukarı kaydır"},
    {"Scroll right", "Scroll right", "Sağa kaydır"},
    {"Scroll down", "Scroll down", "Aşağı kaydır"},
};

}  // namespace

QString VornStandardTextTranslator::translate(const char* context, const char* sourceText, const char*, int) const {
    // Only Qt's own classes ask through translators; the program's texts never do.
    if (!context || context[0] != 'Q' || !sourceText) {
        return {};
    }
    const VornLanguage language = VornLanguage::current();
    if (language == VornLanguage::en) {
        return {};
    }
    const std::string_view source(sourceText, std::strlen(sourceText));
    for (const StandardText& text : standardTexts) {
        if (text.source == source) {
            return vornQText(text.en, text.tr, language);
        }
    }
    return {};
}

void vornInstallStandardTexts() {
    static QPointer<VornStandardTextTranslator> installed;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || installed) {
        return;
    }
    installed = new VornStandardTextTranslator(application);
    QCoreApplication::installTranslator(installed);
}
