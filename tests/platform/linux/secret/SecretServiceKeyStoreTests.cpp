#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/linux/secret/SecretServiceKeyStore.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using testing::commandOutput;
using testing::TemporaryDirectory;

// The session's keyring is only ever touched inside the private one that the test-services
// script starts, never a developer's own.
bool inTestServices() {
    const char* flag = std::getenv("MURRELO_IN_SERVICES");
    return flag && std::string(flag) == "1" && std::getenv("DBUS_SESSION_BUS_ADDRESS");
}

const SecretSchema* schema() {
    static const SecretSchema instance = {"zz.holvanis.murrelo.llm",
                                          SECRET_SCHEMA_NONE,
                                          {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                           {nullptr, SecretSchemaAttributeType(0)}},
                                          0,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr};
    return &instance;
}

int storedItemCount() {
    GError* error = nullptr;
    GList* items = secret_password_search_sync(
        schema(), SecretSearchFlags(SECRET_SEARCH_ALL), nullptr, &error, "service",
        "zz.holvanis.murrelo.llm", "account", "default", nullptr);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return -1;
    }
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

// One test case, because every step works on the same keyring item and test cases may run in
// parallel.
TEST(SecretServiceKeyStore, WritesReplacesReadsAndDeletesOneItem) {
    if (!inTestServices()) GTEST_SKIP() << "runs inside scripts/with-test-services";
    SecretServiceKeyStore store;
    ASSERT_TRUE(store.write(""));
    EXPECT_EQ(store.read(), std::nullopt);

    ASSERT_TRUE(store.write("sk-first"));
    EXPECT_EQ(store.read(), "sk-first");
    ASSERT_TRUE(store.write("sk-second 密钥 ключ"));
    EXPECT_EQ(store.read(), "sk-second 密钥 ключ");
    EXPECT_EQ(storedItemCount(), 1) << "a new value replaces the item";
    // Other tools find it by the same service and account.
    EXPECT_EQ(commandOutput("secret-tool lookup service zz.holvanis.murrelo.llm account default"),
              "sk-second 密钥 ключ");

    // Every byte is kept: a key is never silently cut short at a NUL byte.
    const std::string withNul("sk-a\0b", 6);
    ASSERT_TRUE(store.write(withNul));
    EXPECT_EQ(store.read(), withNul);

    EXPECT_TRUE(store.write(""));
    EXPECT_EQ(store.read(), std::nullopt);
    EXPECT_EQ(storedItemCount(), 0);
    EXPECT_TRUE(store.write("")) << "deleting what does not exist succeeds";

    // An item whose secret is not text reads as none.
    SecretValue* value = secret_value_new("\xff\xfe\x80", 3, "application/octet-stream");
    GError* error = nullptr;
    secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, "binary", value, nullptr,
                                      &error, "service", "zz.holvanis.murrelo.llm", "account",
                                      "default", nullptr);
    secret_value_unref(value);
    ASSERT_EQ(error, nullptr) << error->message;
    EXPECT_EQ(store.read(), std::nullopt);
    EXPECT_TRUE(store.write(""));

    // The online recognizer's key is an item of its own beside the refinement key.
    SecretServiceKeyStore transcription(SecretServiceKeyStore::kTranscriptionAccount);
    ASSERT_TRUE(store.write("sk-refine"));
    ASSERT_TRUE(transcription.write("sk-transcribe"));
    EXPECT_EQ(store.read(), "sk-refine");
    EXPECT_EQ(transcription.read(), "sk-transcribe");
    EXPECT_EQ(
        commandOutput("secret-tool lookup service zz.holvanis.murrelo.llm account transcription"),
        "sk-transcribe");
    EXPECT_TRUE(transcription.write(""));
    EXPECT_EQ(store.read(), "sk-refine");
    EXPECT_TRUE(store.write(""));
}

// Each situation is made in a child process with its own environment; each must fail at once
// with a reason that names the problem.
class SecretServiceFailureTest : public ::testing::Test {
  protected:
    // Only a guard against a hang: every case answers in well under a second.
    static constexpr const char* kGuard = "timeout 30 ";

    std::string environment() const {
        return "env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS "
               "ASAN_OPTIONS=detect_leaks=0 HOME=" +
               home.path().string() + " XDG_RUNTIME_DIR=" + runtime().string() +
               " XDG_DATA_HOME=" + (home / "data").string() + " ";
    }
    std::filesystem::path runtime() const {
        const auto dir = home / "run";
        std::filesystem::create_directories(dir);
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        return dir;
    }
    static std::string probe(const std::string& arguments) {
        return std::string(SECRET_PROBE) + " " + arguments;
    }
    // Runs a shell script inside a new private session bus.
    std::string inSession(const std::string& script, const std::string& busOptions = "") {
        return commandOutput(std::string(kGuard) + environment() + "dbus-run-session " +
                             busOptions + " -- sh -c '" + script + "' 2>/dev/null");
    }

    TemporaryDirectory home{"murrelo-secret"};
};

TEST_F(SecretServiceFailureTest, NoSessionBus) {
    const auto output = commandOutput(std::string(kGuard) + environment() + probe("write sk-x") +
                                      "; " + environment() + probe("read") + " 2>/dev/null");
    EXPECT_EQ(output.rfind(
                  "failed: The API key could not be saved because no Secret Service (keyring) is "
                  "available in this session. (",
                  0),
              0u)
        << output;
    EXPECT_NE(output.find("\nnone\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("sk-x"), std::string::npos) << "the key is never part of the reason";
}

TEST_F(SecretServiceFailureTest, NoSecretServiceOnTheBus) {
    // A bus that can start no services, so nothing answers for the Secret Service.
    const auto config = home / "bus.conf";
    std::ofstream(config)
        << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/>
<allow own="*"/></policy></busconfig>)";
    const auto output =
        inSession(probe("write sk-x") + "; " + probe("read"), "--config-file=" + config.string());
    EXPECT_NE(output.find("failed: The API key could not be saved because no Secret Service"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("org.freedesktop.secrets"), std::string::npos) << output;
    EXPECT_NE(output.find("\nnone\n"), std::string::npos) << output;
}

// A Secret Service that owns its name and never answers (a hung keyring, or one waiting on a
// prompt nobody sees): a read gives up after a few seconds instead of D-Bus's 25 s per call.
TEST_F(SecretServiceFailureTest, ASecretServiceThatNeverAnswers) {
    if (std::system("/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs the system python3 with GObject introspection (python3-gi)";
    }
    const auto stub = home / "silent-secrets.py";
    // Calls to the service's object are taken and never answered.
    std::ofstream(stub) << R"(import sys
from gi.repository import Gio, GLib
XML = """<node><interface name="org.freedesktop.Secret.Service">
<method name="OpenSession"><arg type="s" direction="in"/><arg type="v" direction="in"/>
<arg type="v" direction="out"/><arg type="o" direction="out"/></method>
<method name="SearchItems"><arg type="a{ss}" direction="in"/>
<arg type="ao" direction="out"/><arg type="ao" direction="out"/></method>
</interface></node>"""
held = []
def never_answer(connection, sender, path, interface, method, parameters, invocation):
    held.append(invocation)
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
bus.register_object("/org/freedesktop/secrets", Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0],
                    never_answer, None, None)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.secrets", 0,
                               lambda *a: open(sys.argv[1], "w").close(), None)
GLib.MainLoop().run()
)";
    const auto ready = home / "owned";
    const auto output =
        inSession("/usr/bin/python3 " + stub.string() + " " + ready.string() + " & until [ -e " +
                  ready.string() + " ]; do sleep 0.1; done; start=$(date +%s); " + probe("read") +
                  "; echo $(( $(date +%s) - start ))");
    EXPECT_EQ(output.substr(0, output.find('\n')), "none") << output;
    const auto elapsed = std::stoi(output.substr(output.find('\n') + 1));
    // Generous: what is checked is that the call is cut short at all (D-Bus alone waits 25 s).
    EXPECT_LT(elapsed, 20) << output;
}

TEST_F(SecretServiceFailureTest, AStartedKeyringWithoutALoginCollection) {
    // The bus starts the keyring on demand, which has no keyring to store into and no way to
    // ask for a password here.
    const auto output = inSession(probe("write sk-x"));
    EXPECT_EQ(output.rfind("failed: The API key could not be saved", 0), 0u) << output;
    EXPECT_NE(output.find("login"), std::string::npos) << output;
}

TEST_F(SecretServiceFailureTest, ALockedKeyring) {
    // First a session that creates the login keyring and stores a key in it...
    const auto setup = inSession(
        "echo -n test-pass | gnome-keyring-daemon --unlock --components=secrets >/dev/null; " +
        probe("write sk-seed"));
    ASSERT_EQ(setup, "ok\n");
    // ...then one whose keyring starts locked and cannot ask for its password.
    const auto output = inSession("gnome-keyring-daemon --start --components=secrets >/dev/null; " +
                                  probe("write sk-x") + "; " + probe("read"));
    EXPECT_EQ(
        output.rfind("failed: The API key could not be saved because the keyring is locked.", 0),
        0u)
        << output;
    EXPECT_NE(output.find("\nnone\n"), std::string::npos) << "a locked key is not readable";
}

}  // namespace
}  // namespace kestrune
