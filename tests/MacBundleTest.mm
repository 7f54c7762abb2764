#include <gtest/gtest.h>

#import <Foundation/Foundation.h>

// The bundle information as the Finder and Launch Services read it on a Mac: a plist that
// does not parse, or types that do not match, go unnoticed until a user opens a file.
TEST(MacBundle, InfoPlistDeclaresTheTwoDocumentTypes) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    NSDictionary* info = [NSDictionary dictionaryWithContentsOfFile:@MAC_INFO_PLIST];
    ASSERT_TRUE(info != nil) << MAC_INFO_PLIST << " is no plist";
    EXPECT_TRUE(
        [[info objectForKey:@"LSMinimumSystemVersion"] isEqualToString:@MAC_DEPLOYMENT_TARGET]);

    NSString* updateType =
        [[info objectForKey:@"CFBundleIdentifier"] stringByAppendingString:@".update"];
    const struct {
        const char* label;
        NSString* declarations;
        NSString* extension;
        NSString* rank;
    } rows[] = {
        {"update files, ours", @"UTExportedTypeDeclarations", @"upd", @"Owner"},
        {"SysEx files, anyone's", @"UTImportedTypeDeclarations", @"syx", @"Alternate"},
    };
    NSArray* documents = [info objectForKey:@"CFBundleDocumentTypes"];
    ASSERT_EQ([documents count], 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(rows[i].label);
        NSArray* declared = [info objectForKey:rows[i].declarations];
        ASSERT_EQ([declared count], 1u);
        NSDictionary* type = [declared objectAtIndex:0];
        NSString* identifier = [type objectForKey:@"UTTypeIdentifier"];
        if (i == 0) {
            EXPECT_TRUE([identifier isEqualToString:updateType]);
        }
        EXPECT_TRUE([[type objectForKey:@"UTTypeConformsTo"]
            isEqualToArray:[NSArray arrayWithObject:@"public.data"]]);
        EXPECT_TRUE([[[type objectForKey:@"UTTypeTagSpecification"]
            objectForKey:@"public.filename-extension"]
            isEqualToArray:[NSArray arrayWithObject:rows[i].extension]]);

        NSDictionary* document = [documents objectAtIndex:i];
        EXPECT_TRUE([[document objectForKey:@"LSItemContentTypes"]
            isEqualToArray:[NSArray arrayWithObject:identifier]]);
        EXPECT_TRUE([[document objectForKey:@"LSHandlerRank"] isEqualToString:rows[i].rank]);
        EXPECT_TRUE([[document objectForKey:@"CFBundleTypeRole"] isEqualToString:@"Viewer"]);
    }
    [pool release];
}
