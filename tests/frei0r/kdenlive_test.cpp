// Kdenlive's effect description against what the filter itself reports: a
// parameter missing, misnamed, of the wrong kind, with a range that does not
// span the filter's 0..1 or a default that is not the filter's would show
// Kdenlive users a different effect from the one that renders.
#include <dlfcn.h>
extern "C" {
#include <frei0r.h>
}
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {

struct XmlParam {
    std::map<std::string, std::string> attr;
    std::string label;
    double Num(const char* key, double fallback) const {
        const auto it = attr.find(key);
        return it == attr.end() ? fallback : std::stod(it->second);
    }
};

struct XmlEffect {
    std::string tag, name, description;
    std::map<std::string, XmlParam> params;
    int count = 0;
};

XmlEffect ReadEffect(const char* path) {
    XmlEffect e;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return e;
    QXmlStreamReader xml(&file);
    XmlParam* current = nullptr;
    while (!xml.atEnd()) {
        if (!xml.readNext() || !xml.isStartElement()) continue;
        const QString element = xml.name().toString();
        if (element == "effect") {
            e.tag = xml.attributes().value("tag").toString().toStdString();
        } else if (element == "parameter") {
            XmlParam p;
            for (const QXmlStreamAttribute& a : xml.attributes())
                p.attr[a.name().toString().toStdString()] = a.value().toString().toStdString();
            ++e.count;
            current = &(e.params[p.attr["name"]] = p);
        } else if (element == "name") {
            const std::string text = xml.readElementText().toStdString();
            (current ? current->label : e.name) = text;
        } else if (element == "description" && !current) {
            e.description = xml.readElementText().toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << path << ": " << xml.errorString().toStdString();
    return e;
}

TEST(KdenliveEffect, DescribesEveryParameterAsTheFilterReportsIt) {
    void* lib = dlopen(VX_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto pluginInfo = reinterpret_cast<decltype(&f0r_get_plugin_info)>(dlsym(lib, "f0r_get_plugin_info"));
    auto paramInfo = reinterpret_cast<decltype(&f0r_get_param_info)>(dlsym(lib, "f0r_get_param_info"));
    auto construct = reinterpret_cast<decltype(&f0r_construct)>(dlsym(lib, "f0r_construct"));
    auto destruct = reinterpret_cast<decltype(&f0r_destruct)>(dlsym(lib, "f0r_destruct"));
    auto get = reinterpret_cast<decltype(&f0r_get_param_value)>(dlsym(lib, "f0r_get_param_value"));
    ASSERT_TRUE(pluginInfo && paramInfo && construct && destruct && get);

    const XmlEffect e = ReadEffect(VX_KDENLIVE_XML);
    f0r_plugin_info_t info{};
    pluginInfo(&info);
    EXPECT_EQ(e.tag, std::string("frei0r.") + info.name);
    EXPECT_FALSE(e.name.empty());
    EXPECT_FALSE(e.description.empty());
    EXPECT_EQ(e.count, info.num_params) << "one entry per parameter, no more";

    f0r_instance_t in = construct(16, 16);
    for (int i = 0; i < info.num_params; ++i) {
        f0r_param_info_t p{};
        paramInfo(&p, i);
        const auto it = e.params.find(p.name);
        ASSERT_NE(it, e.params.end()) << p.name << " is not described";
        const XmlParam& x = it->second;
        EXPECT_FALSE(x.label.empty()) << p.name;
        const std::string type = x.attr.count("type") ? x.attr.at("type") : "";
        if (p.type == F0R_PARAM_DOUBLE) {
            // Keyframable, and the shown range is exactly the filter's 0..1.
            EXPECT_EQ(type, "animated") << p.name;
            // Kdenlive 22.12 shows value x factor, ignoring any offset.
            const double factor = x.Num("factor", 1);
            EXPECT_EQ(x.Num("min", NAN) / factor, 0.0) << p.name;
            EXPECT_EQ(x.Num("max", NAN) / factor, 1.0) << p.name;
            EXPECT_EQ(x.attr.count("offset"), 0u) << p.name;
            double v = -1;
            get(in, &v, i);
            EXPECT_EQ(x.Num("default", NAN), v) << p.name;
        } else if (p.type == F0R_PARAM_COLOR) {
            EXPECT_EQ(type, "color") << p.name;
            f0r_param_color_t c{};
            get(in, &c, i);
            char want[16];
            std::snprintf(want, sizeof want, "0x%02lx%02lx%02lxff", std::lround(c.r * 255), std::lround(c.g * 255),
                          std::lround(c.b * 255));
            EXPECT_EQ(x.attr.at("default"), want) << p.name;
        } else if (p.type == F0R_PARAM_STRING) {
            EXPECT_EQ(type, "list") << p.name;
            const char* v = nullptr;
            get(in, &v, i);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(x.attr.at("default"), v) << p.name;
            EXPECT_EQ(x.attr.at("paramlist"), "clamp;wrap;reflect") << p.name;
        } else {
            ADD_FAILURE() << p.name << ": unexpected frei0r type " << p.type;
        }
    }
    destruct(in);
    dlclose(lib);
}

}  // namespace
