// The module's forms and helpers, linked in: the settings dialog through a
// scripted view, the about box's request, the server library's path, and the
// module's table of exported symbols.
#include "Brantic.h"
#include "FakeHost.h"
#include "Setup.h"

#include "platform/text.h"

#include <cstring>
#include <cxxabi.h>
#include <elf.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <vector>

using namespace platform::literals;
using namespace brantic;

namespace {

// A view layer that records what the module asks of it and closes each dialog
// the way the test says.
struct ScriptedLayer : ui::ViewLayer {
    struct View : ui::SetupView {
        View(ScriptedLayer& l, CSetup& f) : layer(l), form(f) {}
        int runModal() override {
            layer.parents.push_back(form.parentWindow());
            EXPECT_TRUE(form.OnInitDialog());
            result = -1;
            if (layer.pressOk)
                form.OnOK();
            else
                form.OnCancel();
            return result;
        }
        void endDialog(int r) override { result = r; }
        ScriptedLayer& layer;
        CSetup& form;
        int result = -1;
    };
    std::unique_ptr<ui::SetupView> makeSetupView(CSetup& form) override {
        return std::make_unique<View>(*this, form);
    }
    void messageBox(const ui::MessageBoxRequest& request) override { boxes.push_back(request); }

    bool pressOk = true;
    std::vector<void*> parents;
    std::vector<ui::MessageBoxRequest> boxes;
};

class Forms : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<ScriptedLayer>();
        layer = owned.get();
        ui::setViewLayer(std::move(owned));
    }
    void TearDown() override { ui::setViewLayer(nullptr); }
    ScriptedLayer* layer = nullptr;
};

TEST_F(Forms, SetupDialogClosesWithTheButtonPressed) {
    CSetup dialog(reinterpret_cast<void*>(0x42));
    EXPECT_EQ(dialog.DoModal(), CSetup::IDOK);
    layer->pressOk = false;
    EXPECT_EQ(dialog.DoModal(), CSetup::IDCANCEL);
    EXPECT_EQ(layer->parents,
              (std::vector<void*>{reinterpret_cast<void*>(0x42), reinterpret_cast<void*>(0x42)}));
    // Handlers outside a modal run do nothing.
    dialog.OnOK();
    dialog.OnCancel();
}

TEST_F(Forms, SetupTemplateTexts) {
    EXPECT_STREQ(CSetup::caption(), "Настройка параметров"_w);
    EXPECT_STREQ(CSetup::okButton().text, "OK");
    EXPECT_STREQ(CSetup::cancelButton().text, "Отмена"_w);
    EXPECT_EQ(CSetup::okButton().id, 1);
    EXPECT_EQ(CSetup::cancelButton().id, 2);
}

TEST_F(Forms, EditTakesTheParentWindowAgainAndIgnoresTheResult) {
    brantic_test::FakeHost host;
    CBrantic* plugin = new CBrantic;
    // No server library beside this test program: create fails, but keeps the
    // host and builds the dialog.
    EXPECT_FALSE(plugin->create(&host));
    host.mainWindow = reinterpret_cast<void*>(0x99);
    EXPECT_TRUE(plugin->edit());
    layer->pressOk = false;
    EXPECT_TRUE(plugin->edit());
    EXPECT_EQ(layer->parents,
              (std::vector<void*>{reinterpret_cast<void*>(0x99), reinterpret_cast<void*>(0x99)}));
    plugin->close();
    EXPECT_EQ(plugin->Release(), 0u);
}

TEST_F(Forms, AboutBoxHasNoOwnerAndTheVersionLast) {
    CBrantic* plugin = new CBrantic;
    EXPECT_TRUE(plugin->notify(PN_ABOUT, 0));
    ASSERT_EQ(layer->boxes.size(), 1u);
    const ui::MessageBoxRequest& box = layer->boxes[0];
    EXPECT_EQ(box.caption, "Информация о модуле"_w);
    EXPECT_EQ(box.icon, ui::Icon::Information);
    EXPECT_EQ(box.owner, nullptr);
    const std::string start = std::string("Удаленное управление"_w) + "\n\n";
    EXPECT_EQ(box.text.compare(0, start.size(), start), 0);
    EXPECT_EQ(box.text.substr(box.text.size() - 7), "\nver1.0");
    EXPECT_EQ(plugin->Release(), 0u);
}

// A copy shares the log with one more reference and gives it back; assigning
// over an object gives back the reference it replaces.
TEST_F(Forms, CopiesShareTheLogReference) {
    brantic_test::FakeHost host;
    auto* plugin = new CBrantic;
    plugin->create(&host);
    EXPECT_EQ(host.log.count.value(), 2u);
    {
        CBrantic copy(*plugin);
        EXPECT_EQ(host.log.count.value(), 3u);
        CBrantic assigned;
        assigned = copy;
        EXPECT_EQ(host.log.count.value(), 4u);
        assigned = assigned;
        EXPECT_EQ(host.log.count.value(), 4u);
        EXPECT_EQ(copy.AddRef(), 2u) << "a copy counts its own references";
        copy.Release();
    }
    EXPECT_EQ(host.log.count.value(), 2u);
    EXPECT_EQ(plugin->UpdateSettings(), 0);
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_EQ(host.log.count.value(), 1u);
}

TEST(ServerPath, FolderOfTheModuleOrTheBareName) {
    EXPECT_EQ(CBrantic::OrvanePath("/opt/recorder/plugins/Brantic.so"),
              "/opt/recorder/plugins/Orvane.so");
    EXPECT_EQ(CBrantic::OrvanePath("Brantic.so"), "Orvane.so");
    EXPECT_EQ(CBrantic::OrvanePath("/Brantic.so"), "/Orvane.so");
    EXPECT_EQ(CBrantic::OrvanePath(""), "Orvane.so");
}

// The defined dynamic symbols of an ELF64 shared library, demangled.
std::set<std::string> exportedSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr))
        return names;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), file.data() + header.e_shoff, sizeof(Elf64_Shdr) * header.e_shnum);
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr& strings = sections[s.sh_link];
        for (std::size_t off = 0; off + sizeof(Elf64_Sym) <= s.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + s.sh_offset + off, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0)
                continue;
            const std::string raw = file.data() + strings.sh_offset + sym.st_name;
            int status = 0;
            char* plain = abi::__cxa_demangle(raw.c_str(), nullptr, nullptr, &status);
            names.insert(status == 0 && plain != nullptr ? std::string(plain) : raw);
            std::free(plain);
        }
    }
    return names;
}

TEST(ModuleTable, ExportsTheSixFunctionsAndTheClassOnly) {
    const std::set<std::string> names = exportedSymbols(BRANTIC_MODULE_FILE);
    ASSERT_FALSE(names.empty());
    for (const char* name :
         {"GetPluginType", "GetPluginDescription", "CreatePluginClass", "DestroyPluginClass",
          "GetPluginInfo", "GetKovaComponentVersion", "CBrantic::m_isLive", "CBrantic::m_isWorking",
          "CBrantic::CBrantic()", "CBrantic::CBrantic(CBrantic const&)", "CBrantic::~CBrantic()",
          "CBrantic::operator=(CBrantic const&)", "CBrantic::UpdateSettings()",
          "CBrantic::StoreSettings(char const*)", "CBrantic::LoadSettings(char const*)"})
        EXPECT_TRUE(names.count(name)) << name;
    const std::set<std::string> functions = {"GetPluginType",     "GetPluginDescription",
                                             "CreatePluginClass", "DestroyPluginClass",
                                             "GetPluginInfo",     "GetKovaComponentVersion"};
    for (const std::string& name : names) {
        const bool member =
            name.find("CBrantic") != std::string::npos &&
            (name.rfind("CBrantic::", 0) == 0 || name.find(" for CBrantic") != std::string::npos);
        EXPECT_TRUE(functions.count(name) || member) << "exported: " << name;
    }
}

TEST(ModuleTable, ServerLibraryExportsItsEntryPointOnly) {
    EXPECT_EQ(exportedSymbols(ORVANE_MODULE_FILE), (std::set<std::string>{"GetNotifyInterface"}));
}

} // namespace

namespace {

// Sets environment variables for one test and puts them back after it.
class Environment {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                setenv(it->name, it->value.c_str(), 1);
            else
                unsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char* name;
        bool had;
        std::string value;
    };
    std::vector<Saved> saved_;
};

TEST(ViewChoice, HeadlessWhereNoUserCouldCloseADialog) {
    Environment env;
    env.set("DISPLAY", nullptr);
    env.set("WAYLAND_DISPLAY", nullptr);
    env.set("QT_QPA_PLATFORM", nullptr);
    env.set("BRANTIC_UI", nullptr);
    EXPECT_FALSE(ui::guiWanted()) << "no display at all";
    env.set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_FALSE(ui::guiWanted());
    env.set("QT_QPA_PLATFORM", "xcb");
    EXPECT_TRUE(ui::guiWanted());
    env.set("QT_QPA_PLATFORM", nullptr);
    env.set("DISPLAY", ":0");
    EXPECT_TRUE(ui::guiWanted());
    env.set("BRANTIC_UI", "none");
    EXPECT_FALSE(ui::guiWanted());
    env.set("DISPLAY", nullptr);
    env.set("BRANTIC_UI", "qt");
    EXPECT_TRUE(ui::guiWanted());
}

} // namespace
