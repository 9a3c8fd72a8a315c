// The command line of every program (front ends and benchmarks): options are declared once,
// with their help text, and the usage is printed from the declarations. `--help` (or `-h`)
// prints the usage on stdout and exits 0; a bad option or value prints a message that names
// the program on stderr and exits 2.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace tools {

class Cli {
public:
    // `synopsis` follows "usage: PROGRAM "; `about` is the paragraph under it.
    Cli(std::string program, std::string synopsis, std::string about)
        : program_(std::move(program)), synopsis_(std::move(synopsis)), about_(std::move(about)) {}

    const std::string& program() const { return program_; }

    // An option without a value.
    Cli& flag(const std::string& name, const std::string& help, std::function<void()> set) {
        options_.push_back({name, "", help, [set](const char*) { set(); }});
        return *this;
    }
    Cli& flag(const std::string& name, const std::string& help, bool& target, bool value = true) {
        return flag(name, help, [&target, value] { target = value; });
    }
    // An option with a value; `take` may call fail() for a value it does not accept.
    Cli& option(const std::string& name, const std::string& meta, const std::string& help,
                std::function<void(const char*)> take) {
        options_.push_back({name, meta, help, std::move(take)});
        return *this;
    }
    Cli& text(const std::string& name, const std::string& meta, const std::string& help, std::string& target) {
        return option(name, meta, help, [&target](const char* v) { target = v; });
    }
    // An option that may carry a value as --name=VALUE; `take` gets nullptr without one.
    Cli& optionalValue(const std::string& name, const std::string& meta, const std::string& help,
                       std::function<void(const char*)> take) {
        options_.push_back({name, "[=" + meta + "]", help, std::move(take), true});
        return *this;
    }
    // A number of seconds, 0 to `max`.
    Cli& seconds(const std::string& name, const std::string& help, double& target, double max = 1e6) {
        return option(name, "N", help, [this, name, &target, max](const char* v) {
            char* end = nullptr;
            double s = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(s >= 0) || s > max)
                fail(name + " wants a number of seconds, not '" + v + "'");
            target = s;
        });
    }
    // A whole number, `min` to `max`.
    template <class T>
    Cli& count(const std::string& name, const std::string& meta, const std::string& help, T& target,
               unsigned long long max, unsigned long long min = 0) {
        return option(name, meta, help, [this, name, &target, max, min](const char* v) {
            char* end = nullptr;
            unsigned long long k = std::strtoull(v, &end, 10);
            if (v[0] < '0' || v[0] > '9' || *end != '\0' || k > max || k < min)
                fail(name + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                     ", not '" + v + "'");
            target = T(k);
        });
    }
    // Arguments that are not options, at most `most` of them.
    Cli& positional(const std::string& meta, const std::string& help, std::vector<std::string>& target,
                    size_t most) {
        positionalMeta_ = meta;
        positionalHelp_ = help;
        positional_ = &target;
        most_ = most;
        return *this;
    }
    // Text printed after the options (exit status, notes).
    Cli& epilogue(const std::string& text) {
        epilogue_ = text;
        return *this;
    }

    void parse(int argc, char** argv) {
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                usage(stdout);
                std::exit(0);
            }
            if (arg.size() > 1 && arg[0] == '-') {
                size_t eq = arg.find('=');
                const Option* o = find(arg.substr(0, eq));
                if (o && o->inline_) {
                    o->take(eq == std::string::npos ? nullptr : argv[i] + eq + 1);
                    continue;
                }
                o = find(arg);
                if (!o) fail("unknown option '" + arg + "'", true);
                if (o->meta.empty()) {
                    o->take(nullptr);
                } else {
                    if (i + 1 >= argc) fail(arg + " needs a value");
                    o->take(argv[++i]);
                }
                continue;
            }
            if (!positional_) fail("unexpected argument '" + arg + "'", true);
            if (positional_->size() >= most_) {
                std::string given;
                for (const std::string& p : *positional_) given += "'" + p + "' ";
                fail("too many arguments: " + given + "and '" + arg + "'", true);
            }
            positional_->push_back(arg);
        }
    }

    void usage(FILE* out) const {
        std::fprintf(out, "usage: %s %s\n%s\n", program_.c_str(), synopsis_.c_str(), about_.c_str());
        if (!about_.empty() && about_.back() != '\n') std::fputc('\n', out);
        if (positional_ && !positionalHelp_.empty()) line(out, positionalMeta_, positionalHelp_);
        for (const Option& o : options_)
            line(out, o.meta.empty() ? o.name : o.name + (o.inline_ ? "" : " ") + o.meta, o.help);
        line(out, "--help", "this text");
        if (!epilogue_.empty()) std::fprintf(out, "\n%s", epilogue_.c_str());
    }

    [[noreturn]] void fail(const std::string& message, bool withUsage = false) const {
        std::fprintf(stderr, "%s: %s\n", program_.c_str(), message.c_str());
        if (withUsage) usage(stderr);
        std::exit(2);
    }

private:
    struct Option {
        std::string name, meta, help;
        std::function<void(const char*)> take;
        bool inline_ = false;  // the value, if any, is joined with '='
    };
    std::string program_, synopsis_, about_, epilogue_;
    std::vector<Option> options_;
    std::vector<std::string>* positional_ = nullptr;
    std::string positionalMeta_, positionalHelp_;
    size_t most_ = 0;

    const Option* find(const std::string& name) const {
        for (const Option& o : options_)
            if (o.name == name) return &o;
        return nullptr;
    }
    // "  NAME  help", help lines aligned at column 21 and continued there.
    static void line(FILE* out, const std::string& name, const std::string& help) {
        std::string head = "  " + name;
        size_t at = 0;
        bool first = true;
        do {
            size_t nl = help.find('\n', at);
            std::string part = help.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
            if (first && head.size() < 20)
                std::fprintf(out, "%-21s%s\n", head.c_str(), part.c_str());
            else if (first)
                std::fprintf(out, "%s\n%21s%s\n", head.c_str(), "", part.c_str());
            else
                std::fprintf(out, "%21s%s\n", "", part.c_str());
            first = false;
            at = nl == std::string::npos ? nl : nl + 1;
        } while (at != std::string::npos);
    }
};

}  // namespace tools
