#include "SiteTable.h"

const SiteEntry SiteTable[6] = {
    { u"youtube.com", u"0" },
    { u"vimeo.com", u"1" },
    { u"liveleak.com", u"2" },
    { u"metacafe.com", u"3" },
    { u"myvideo.de", u"4" },
    { u"break.com", u"5" },
};

int LookupSiteId(const std::u16string& pageUrl)
{
    std::u16string lower = pageUrl;
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    for (const SiteEntry& site : SiteTable) {
        if (lower.find(site.domain) == std::u16string::npos)
            continue;
        int id = 0;
        for (const WCHAR* digit = site.id; *digit; ++digit)
            id = id * 10 + (*digit - u'0');
        return id;
    }
    return -1;
}
