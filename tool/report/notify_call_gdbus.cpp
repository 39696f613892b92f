#include "report/notify_call_gdbus.hpp"

namespace mp {

std::string dbus_error_text(GError* error)
{
    if (g_dbus_error_is_remote_error(error)) {
        gchar* remote = g_dbus_error_get_remote_error(error);
        const std::string name = remote ? remote : "";
        g_free(remote);
        if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner")
            return "no notification service on the session bus";
        g_dbus_error_strip_remote_error(error);
        return "the notification service refused: " + std::string(error->message);
    }
    return error->message;
}

std::string valid_utf8(const std::string& text)
{
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return text;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

GVariant* notify_parameters(const Notification& n, uint32_t replaces_id)
{
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(static_cast<guchar>(n.urgency)));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(kDesktopEntry));
    if (!n.category.empty())
        g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string(n.category.c_str()));
    if (n.percent)
        g_variant_builder_add(&hints, "{sv}", "value", g_variant_new_int32(*n.percent));
    const std::string summary = valid_utf8(n.summary);
    // Servers may read the body as markup: file names hold "&", "<" or
    // quotes, never markup of ours.
    const std::string text = valid_utf8(n.body);
    gchar* body = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    GVariant* parameters = g_variant_new("(susss@asa{sv}i)", kAppName, replaces_id, kIconName, summary.c_str(), body,
                                         g_variant_new_strv(nullptr, 0), &hints, n.expire_timeout_ms);
    g_free(body);
    return parameters;
}

}  // namespace mp
