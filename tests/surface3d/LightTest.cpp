#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CKLF_3D_Surface.h"
#include "CKLF_3D_Surface2.h"
#include "support/TestSupport.h"

namespace {

CKLF_3D_Surface::LIGHT_SOURCE Light1(const char* name) {
  CKLF_3D_Surface::LIGHT_SOURCE l = {};
  l.name = name;
  l.intensity = 2.0f;
  l.factor = 50.0f;
  for (int i = 0; i < 4; ++i) l.colour[i] = 0.25f * i;
  l.direction = {0, 0, 1};
  l.shadowMap = {1, 0, 2.0f, 3.0f};
  l.bgShadow = {0, 1, 1.0f, 4.0f};
  l.bgShadowOn = 1;
  l.useShadowMap = 1;
  return l;
}

CKLF_3D_Surface2::LIGHT_SOURCE Light2(const char* name) {
  CKLF_3D_Surface2::LIGHT_SOURCE l = {};
  l.name = name;
  l.direction = {0.5f, 0.25f, 1.0f};
  l.front = 1;
  l.intensity1 = 100.0f;
  l.intensity2 = 50.0f;
  const u8 c1[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  std::memcpy(l.colour1, c1, 8);
  std::memset(l.colour2, 255, 8);
  l.diffuseToAmbient1 = 1;
  return l;
}

}  // namespace

TEST(SurfaceLights, FirstClassRecordsAndChangeFlags) {
  CKLF_3D_Surface s;
  CKLF_3D_Surface::LIGHT_SOURCE a = Light1("sun"), b = Light1("sun");
  b.intensity = 7.0f;
  ASSERT_EQ(s.Light_Add(&a), 1);
  ASSERT_EQ(s.Light_Add(&b), 1);
  const CKLF_3D_Surface::LIGHT_SRC* r = s.Light_GetRecord(0);
  EXPECT_EQ(r->premulColour[3], 0.75f);  // 0.75 x 2 x 50 / 100
  EXPECT_EQ(r->useShadowMap, 0);         // taken by Change and UseShadowMap only
  EXPECT_TRUE(r->changed && r->bgChanged);
  // Lookups reach the first of two equal names; deleting it uncovers the second.
  EXPECT_EQ(s.Light_Delete("sun"), 1);
  CKLF_3D_Surface::LIGHT_SOURCE got = {};
  got.name = "sun";
  ASSERT_EQ(s.Light_GetData(&got), 1);
  EXPECT_EQ(got.intensity, 7.0f);
  EXPECT_EQ(s.Light_Delete("moon"), 0);

  // Which change raises which flag; each flag answers its own kind of
  // change, also while the other one is raised.
  struct Case {
    void (*edit)(CKLF_3D_Surface::LIGHT_SOURCE&);
    u8 changed0, changed, bg;
  };
  const Case cases[] = {
      {[](CKLF_3D_Surface::LIGHT_SOURCE& l) { l.colour[0] = 9; }, 0, 0, 0},
      {[](CKLF_3D_Surface::LIGHT_SOURCE& l) { l.direction.x = 1; }, 0, 1, 1},
      {[](CKLF_3D_Surface::LIGHT_SOURCE& l) { l.bgShadow.blur2 = 9; }, 0, 0, 1},
      {[](CKLF_3D_Surface::LIGHT_SOURCE& l) { l.shadowMap.samplingLevel = 3; }, 0, 1, 0},
      {[](CKLF_3D_Surface::LIGHT_SOURCE& l) { l.direction.y = 1; }, 1, 1, 1},
  };
  for (const Case& c : cases) {
    CKLF_3D_Surface::LIGHT_SOURCE l = Light1("sun");
    s.Light_Change(&l);
    s.Light_SetChangedFlag("sun", c.changed0);
    s.Light_SetBgChangedFlag("sun", 0);
    c.edit(l);
    ASSERT_EQ(s.Light_Change(&l), 1);
    EXPECT_EQ(s.Light_GetChangedFlag("sun"), c.changed);
    EXPECT_EQ(s.Light_GetBgChangedFlag("sun"), c.bg);
  }
  s.Light_UseShadowMap("sun", 0);
  EXPECT_EQ(s.Light_CheckAllLightsChanges(), 0);  // changed, but no map
  EXPECT_EQ(s.Light_CheckAllLightsBgShadowChanges(), 1);

  // A zero direction is refused by Add and Change, the light unchanged.
  CKLF_3D_Surface::LIGHT_SOURCE z = Light1("sun");
  z.direction = {0, 0, 0};
  EXPECT_FAILS(s, s.Light_Add(&z), klErrBadArg);
  EXPECT_EQ(s.Light_Change(&z), 0);
  EXPECT_EQ(s.Light_Count(), 1u);
  EXPECT_EQ(s.Light_GetRecord(0)->direction.y, 1.0f);

  ASSERT_EQ(s.Light_CreateShadowMapStorage("sun", 4, 3), 1);
  EXPECT_NE(s.Light_GetShadowMap("sun"), nullptr);
  EXPECT_EQ(s.Light_GetRecord(0)->useShadowMap, 1);
}

TEST(SurfaceLights, LongNamesKeep49CharactersInBothClasses) {
  const std::string n60(60, 'L'), n49(49, 'L');
  CKLF_3D_Surface s1;
  CKLF_3D_Surface2 s2;
  CKLF_3D_Surface::LIGHT_SOURCE a = Light1(n60.c_str());
  CKLF_3D_Surface2::LIGHT_SOURCE b = Light2(n60.c_str());
  ASSERT_EQ(s1.Light_Add(&a), 1);
  ASSERT_EQ(s2.Light_Add(&b), 1);
  for (CKLF_3D_SurfaceBase* s : {static_cast<CKLF_3D_SurfaceBase*>(&s1), static_cast<CKLF_3D_SurfaceBase*>(&s2)}) {
    EXPECT_EQ(s->int_Light_GetIDByName(n60.c_str()), -1);
    EXPECT_EQ(s->int_Light_GetIDByName(n49.c_str()), 0);
    char buf[64];
    std::memset(buf, 'x', sizeof(buf));
    ASSERT_EQ(s->Light_GetName(0, buf, sizeof(buf)), 1);
    EXPECT_EQ(std::string(buf), n49);
    ASSERT_EQ(s->Light_GetName(0, buf, 10), 1);  // a short buffer still ends in 0
    EXPECT_EQ(std::string(buf), std::string(9, 'L'));
    EXPECT_EQ(s->Light_GetName(1, buf, 10), 0);
  }
}

TEST(SurfaceLights, SecondClassAmbientAndPrecalculation) {
  CKLF_3D_Surface2 s;
  const u8 grey[8] = {100, 1, 2, 3, 4, 5, 6, 7};
  ASSERT_EQ(s.Light_SetAmbientLight(nullptr, 0, grey, 40, 1, 0), 1);
  EXPECT_EQ(s.GetAmbientLight().level1, 100.0f);  // no lights
  EXPECT_EQ(s.GetAmbientLight().colour1[5], 255);
  EXPECT_EQ(s.GetAmbientLight().colour2[0], 100);
  EXPECT_EQ(s.Light_SetAmbientLight(nullptr, 0, nullptr, 0, 1, 0), 0);

  // A front light straight at a flat face, diffuse into ambient 1: the
  // automatic level drops to 0. A back light gives nothing, also with a
  // sharpness whose exponent would fall below 1 (0^e infinite).
  CKLF_3D_Surface2::LIGHT_SOURCE l = Light2("key"), back = Light2("back");
  back.front = 0;
  back.highlightToAmbient1 = 1;
  back.highlightSharpness = -500;
  ASSERT_EQ(s.Light_Add(&l), 1);
  ASSERT_EQ(s.Light_Add(&back), 1);
  ASSERT_EQ(s.Light_SetAmbientLight(nullptr, 0, nullptr, 0, 1, 1), 1);
  EXPECT_EQ(s.GetAmbientLight().level1, 0.0f);
  EXPECT_EQ(s.GetAmbientLight().level2, 100.0f);

  const CKLF_3D_Surface2::INTERNAL_LIGHT_SOURCE* r = s.Light_GetRecord(0);
  const std::pair<u8, f32> kinds[] = {{0, 10}, {1, 20}, {2, 50}};  // grey, red, cyan
  for (auto& k : kinds) {
    ASSERT_EQ(s.Light_PrecalculateLights(k.first), 1);
    EXPECT_EQ(r->factors1[0], k.second * 100.0f / 25500.0f);
  }
  ASSERT_EQ(s.Light_PrecalculateLights(1), 1);
  EXPECT_EQ(r->factors1[3], r->factors1[0]);
  EXPECT_EQ(r->factors2[2], 255 * 50.0f / 25500.0f);
  EXPECT_TRUE(r->lightingVector.x == -0.5f && r->lightingVector.y == 0.25f && r->lightingVector.z == 1.0f);
  EXPECT_EQ(s.Light_GetRecord(1)->lightingVector.z, -1.0f);
  EXPECT_EQ(s.Light_GetRecord(1)->highlightExponent, 1.0f);
  EXPECT_EQ(s.GetAmbientLight().factors2[1], 1.0f);  // automatic colour: level / 100

  l.direction = {0, 0, 0};
  EXPECT_FAILS(s, s.Light_Change(&l), klErrBadArg);

  // A map that cannot be had leaves the light without one.
  ASSERT_EQ(s.Light_CreateShadowMapStorage("key", 8, 8), 1);
  EXPECT_FAILS(s, s.Light_CreateShadowMapStorage("key", 0x10000u, 0x10000u), klErrNoMemory);
  EXPECT_EQ(s.Light_GetShadowMap("key"), nullptr);
}
