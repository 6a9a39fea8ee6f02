#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each one for a bounded time on
# a seed corpus made here; fails when any of them finds a crash.
#   FUZZ_SECONDS    seconds per target (default 30)
#   FUZZ_SEED       libFuzzer seed (default 0: random); CI fixes it so runs repeat
#   FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   FUZZ_TARGETS    run only these targets (space-separated names)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}"
SECONDS_EACH="${FUZZ_SECONDS:-30}"
export QELM2_LOOPBACK_ONLY=1
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

"$ROOT/scripts/install-deps.sh" --fuzz

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DQELM2_FUZZ=ON -DQELM2_BUILD_TESTS=OFF
cmake --build "$BUILD" --target qelm2_fuzzers

# Seeds: a few small valid inputs per target, written fresh on every run.
seed_fuzz_registry_hive() {
  cat >"$1/hive.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" ?>
<Registry>
  <Key name="HKEY_LOCAL_MACHINE">
    <Key name="SOFTWARE">
      <Key name="Vendor">
        <Value name="Language" type="1" text="中文" />
        <Value name="Number" type="4" dword="7" />
        <Value name="Blob" type="3" hex="00ff7f" />
        <Value namehex="0a09" type="2" hex="6100" />
      </Key>
    </Key>
  </Key>
  <Key name="HKEY_CURRENT_USER" />
</Registry>
XML
  printf '<Registry/>' >"$1/empty.xml"
  printf '<Registry><Key name="HKEY_USERS"><!-- c --><Key name="a"><Value name="" type="1" text="&amp;&lt;"/></Key></Key></Registry>' >"$1/small.xml"
}

seed_fuzz_gbtext() {
  printf '\x10前门摄像机' >"$1/chinese"
  printf '\x05\xc7\xb0\xc3\xc5\x00\x00' >"$1/gbfield"
  printf '\x07A𠀀B\x95\x32\x82\x36' >"$1/fourbyte"
  printf '\x03Camera 01\xff\x81\x30' >"$1/broken"
}

# Cloud replies: two option bytes (body and cookie buffers), then the reply.
seed_fuzz_cloud_reply() {
  printf '\x00\x01HTTP/1.1 200 OK\r\nSet-Cookie: PHPSESSID=abc; path=/\r\nContent-Length: 24\r\n\r\n<xml><rnd>15</rnd></xml>' >"$1/random"
  printf '\x01\x03HTTP/1.0 200 OK\r\n\r\n<xml><err>0</err><msg>ok</msg><ip>1.2.3.4</ip><ls><DevID>D1</DevID><devisonline>1</devisonline></ls></xml>' >"$1/login"
  printf '\x00\x01HTTP/1.1 200 OK\r\nX: y\r\n\r\n<xml><msg>x</msg><err>-8378952</err><err>6</err></xml>' >"$1/report"
  printf '\x00\x01HTTP/1.0 200 OK\r\nSet-Cookie:k=v\r\n\r\n<xml><ret>4</ret></xml>' >"$1/rename"
  printf '\x02\x02HTTP/1.0 200 OK\r\n\r\n<xml>0123456789</xml>' >"$1/too_big"
  printf '\x00\x01HTTP/1.0 200 OK\r\n\r\n<xml><rnd>1</xml>' >"$1/cut_random"
  printf '\x00\x01<xml>no header</xml>' >"$1/no_header"
}

# Cloud login replies: one option byte (device-password digest), then the body.
seed_fuzz_cloud_login() {
  printf '\x00<xml><err>0</err><ip>1.1.1.1</ip><p2pserver>p</p2pserver><relaysvrlist>r</relaysvrlist><ls><DevID>c</DevID><devtype>100</devtype><devip>1.1.1.1</devip><devname>Gate</devname><devreginfo>&lt;r&gt;&lt;network&gt;&lt;ip&gt;10.0.0.2&lt;/ip&gt;&lt;web&gt;80&lt;/web&gt;&lt;ptz&gt;1&lt;/ptz&gt;&lt;video&gt;554&lt;/video&gt;&lt;/network&gt;&lt;/r&gt;</devreginfo></ls></xml>' >"$1/camera"
  printf '\x01<xml><ls><DevID>n</DevID><devtype>201</devtype><devip>2.2.2.2</devip><devisonline>1</devisonline><devchannelcount>4</devchannelcount><devchannelstate>1011</devchannelstate><devloginpass>pw</devloginpass><p2pserver>q</p2pserver></ls><ls><DevID>m</DevID><devip>3.3.3.3</devip></ls></xml>' >"$1/recorder"
  printf '\x00<xml><err>5</err><ls><DevID>x</DevID><devip>1.1.1.1</devip></ls></xml>' >"$1/refused"
  # a long UTF-8 lead byte near the end once led the parser past it
  printf '\x00<xml><err>5/evtype' >"$1/cut_utf8"
  head -c 17 /dev/zero | tr '\0' '\315' >>"$1/cut_utf8"
  printf '\xff\xff' >>"$1/cut_utf8"
  head -c 45 /dev/zero | tr '\0' '\315' >>"$1/cut_utf8"
}

seed_fuzz_core_text() {
  printf 'YWJj\nYWI=' >"$1/base64"
  printf '张国强\nzg*' >"$1/pinyin"
  printf 'cabd\n*ab*' >"$1/inner"
  printf 'a::b:\n:' >"$1/split"
  printf 'a\xe5\n\xe5\x89' >"$1/cut"
}

# Small BMP and GIF files of every variant the decoders know (the tests'
# file builders made them).
seed_fuzz_image_bmp() {
  printf '\x42\x4d\x52\x00\x00\x00\x00\x00\x00\x00\x3e\x00\x00\x00\x28\x00\x00\x00\x0d\x00\x00\x00\x05\x00\x00\x00\x01\x00\x01\x00\x00\x00\x00\x00\x14\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x1e\x14\x0a\x00\x32\x64\xc8\x00\x55\x50\x00\x00\xaa\xa8\x00\x00\x55\x50\x00\x00\xaa\xa8\x00\x00\x55\x50\x00\x00' >"$1/mono.bmp"
  printf '\x42\x4d\x90\x00\x00\x00\x00\x00\x00\x00\x76\x00\x00\x00\x28\x00\x00\x00\x09\x00\x00\x00\x03\x00\x00\x00\x01\x00\x04\x00\x02\x00\x00\x00\x1a\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x10\x00\x00\x00\x00\x00\x00\x00\xa9\xac\x31\x00\xa3\xdd\xca\x00\xb3\x34\x0c\x00\xb4\xe3\xcc\x00\xaf\x25\x30\x00\x2c\x24\xf8\x00\x1f\xe9\x0a\x00\x97\x8c\x07\x00\xac\xc7\xf3\x00\x52\xb2\x50\x00\xb1\x3f\x85\x00\xd5\xba\x11\x00\x69\x6f\x05\x00\x77\x33\x22\x00\x64\x70\xf5\x00\xbb\xf9\x3e\x00\x05\x12\x00\x04\x34\x56\x00\x00\x00\x05\x78\x9a\xb0\x00\x04\xcd\x00\x00\x00\x02\x03\x00\x02\xef\x00\x01' >"$1/rle4.bmp"
  printf '\x42\x4d\x6e\x00\x00\x00\x00\x00\x00\x00\x56\x00\x00\x00\x28\x00\x00\x00\x08\x00\x00\x00\x04\x00\x00\x00\x01\x00\x08\x00\x01\x00\x00\x00\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x08\x00\x00\x00\x00\x00\x00\x00\xfd\x6b\xca\x00\x0b\x41\xc2\x00\x39\x3a\x10\x00\x24\xc7\x00\x00\xff\xec\xf2\x00\x62\xa9\x64\x00\x8f\xad\x39\x00\x7b\x6b\xfc\x00\x03\x05\x00\x03\x01\x02\x03\x00\x02\x07\x00\x00\x00\x02\x02\x01\x04\x07\x00\x00\x08\x04\x00\x01' >"$1/rle8.bmp"
  printf '\x42\x4d\x66\x00\x00\x00\x00\x00\x00\x00\x42\x00\x00\x00\x28\x00\x00\x00\x05\x00\x00\x00\x03\x00\x00\x00\x01\x00\x10\x00\x03\x00\x00\x00\x24\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xf8\x00\x00\xe0\x07\x00\x00\x1f\x00\x00\x00\x01\x05\x01\x35\x01\x65\x01\x95\x01\xcd\x00\x00\x81\x02\x81\x32\x81\x62\x81\x92\x81\xca\x00\x00\x01\x00\x01\x30\x01\x60\x01\x90\x01\xc8\x00\x00' >"$1/rgb565.bmp"
  printf '\x42\x4d\x4e\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x03\x00\x00\x00\x02\x00\x00\x00\x01\x00\x20\x00\x00\x00\x00\x00\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x09\x50\x00\x00\x09\x50\x32\x64\x09\x50\x64\xc8\x09\x00\x00\x00\x09\x00\x32\x64\x09\x00\x64\xc8' >"$1/alpha32.bmp"
  printf '\x42\x4d\x40\x00\x00\x00\x00\x00\x00\x00\x20\x00\x00\x00\x0c\x00\x00\x00\x08\x00\x08\x00\x01\x00\x01\x00\x00\x00\x00\xff\xff\xff\xaa\x00\x00\x00\x55\x00\x00\x00\xaa\x00\x00\x00\x55\x00\x00\x00\xaa\x00\x00\x00\x55\x00\x00\x00\xaa\x00\x00\x00\x55\x00\x00\x00' >"$1/os2.bmp"
  printf '\x42\x4d\xa2\x00\x00\x00\x00\x00\x00\x00\x8a\x00\x00\x00\x7c\x00\x00\x00\x03\x00\x00\x00\xfe\xff\xff\xff\x01\x00\x20\x00\x03\x00\x00\x00\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\x00\x00\xff\x00\x00\xff\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x09\x00\x00\x00\x09\x00\x32\x00\x09\x00\x64\x00\x09\x50\x00\x00\x09\x50\x32\x00\x09\x50\x64\x00' >"$1/v5topdown.bmp"
  printf '\x28\x00\x00\x00\x03\x00\x00\x00\x02\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x09\x50\x00\x09\x50\x32\x09\x50\x64\x00\x00\x00\x09\x00\x00\x09\x00\x32\x09\x00\x64\x00\x00\x00' >"$1/bare.dib"
}

seed_fuzz_image_gif() {
  printf '\x47\x49\x46\x38\x37\x61\x0a\x00\x0a\x00\xf1\x00\x00\x2d\x64\x50\x9f\xcf\xab\x20\x52\x51\xd0\x56\xe0\x2c\x00\x00\x00\x00\x0a\x00\x0a\x00\x00\x02\x1a\x84\x30\x31\x27\x1a\x86\x14\x73\x30\x2d\x43\x8f\x9d\xa9\x4a\xdc\x69\x5f\x13\x46\x17\xf9\x88\x67\x86\x14\x00\x3b' >"$1/plain87a.gif"
  printf '\x47\x49\x46\x38\x39\x61\x03\x00\x10\x00\xf3\x00\x00\xc6\x23\xa4\x97\x33\x13\x24\x59\xd7\x04\x3a\x50\xc0\xd0\x93\x83\x3d\x6d\x23\x7e\xc0\xc4\xc5\xf4\xbf\x15\xa5\xb3\x65\xe6\x65\x61\xb6\x40\x9b\x17\xc2\xae\xe1\x2c\xb5\x6a\xb8\x1f\x9c\xc1\xa8\xbd\x2c\x00\x00\x00\x00\x03\x00\x10\x00\x40\x04\x18\x10\x48\x44\x89\x65\x58\x68\xc3\x95\x77\x60\x20\x0e\x64\x61\x1e\x68\xa2\x2e\x6c\xe3\x3e\x70\x04\x00\x3b' >"$1/interlaced.gif"
  printf '\x47\x49\x46\x38\x39\x61\x06\x00\x04\x00\xf1\x00\x00\x5a\x99\xa0\x63\x88\x83\x3c\x7d\xfb\x3b\x90\xeb\x21\xff\x0b\x4e\x45\x54\x53\x43\x41\x50\x45\x32\x2e\x30\x03\x01\x00\x00\x00\x21\xfe\x11\x6d\x61\x64\x65\x20\x62\x79\x20\x74\x68\x65\x20\x74\x65\x73\x74\x73\x00\x21\xf9\x04\x04\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x06\x00\x04\x00\x00\x02\x07\x44\x34\x86\x9a\xd7\xeb\x0a\x00\x21\xf9\x04\x09\x00\x00\x00\x00\x2c\x01\x00\x01\x00\x03\x00\x02\x00\x00\x02\x02\x9c\x5f\x00\x21\xf9\x04\x0c\x00\x00\x00\x00\x2c\x02\x00\x00\x00\x02\x00\x02\x00\x00\x02\x02\x94\x55\x00\x3b' >"$1/animated.gif"
  printf '\x47\x49\x46\x38\x39\x61\x04\x00\x04\x00\x70\x00\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x80\xef\x0f\x9b\x2f\xde\xf3\x02\x03\x44\x02\x05\x00\x2c\x02\x00\x00\x00\x02\x00\x02\x00\x80\x87\xcd\xf0\x27\x42\x5b\x02\x03\x44\x02\x05\x00\x2c\x00\x00\x02\x00\x02\x00\x02\x00\x80\x20\x8c\x45\x1e\xa5\xc3\x02\x03\x44\x02\x05\x00\x3b' >"$1/truecolour.gif"
  printf '\x47\x49\x46\x38\x39\x61\x05\x00\x03\x00\xf4\x00\x00\xe6\x7f\xe9\xd9\xc2\x02\x7c\xe0\x5b\x79\xcc\xde\x7d\xee\x84\xd6\x99\x04\x28\x4a\x64\xcf\xeb\xa1\x53\x33\x8b\xc7\xf3\x06\x45\xe0\xc8\x97\x2b\xb4\xcd\xe9\xf1\x53\x3b\xe5\x2c\x9e\x69\xa0\xd7\x71\x33\x6e\xf0\x08\x9e\xe0\xa7\x40\x4c\x86\xfc\x7d\xc2\xdc\xd3\x4f\x08\xbd\x70\x42\xd0\x78\x66\x7a\x91\x10\xb4\x10\x25\x41\x6d\xdf\x99\xc4\xa0\x2c\x24\xa5\xad\x24\x60\x62\xae\x14\x3a\x27\xf8\x5c\x21\xf9\x04\x01\x00\x00\x05\x00\x2c\x00\x00\x00\x00\x05\x00\x03\x00\x00\x05\x0d\x20\x20\x10\x06\xa2\x30\x0e\x24\x51\x16\xa6\x71\x21\x00\x3b' >"$1/transparent.gif"
  printf '\x47\x49\x46\x38\x39\x61\x00\x00\x00\x00\xf0\x00\x00\x17\xfb\x93\xc8\x89\xd2\x2c\x00\x00\x00\x00\x05\x00\x03\x00\x00\x02\x03\x8c\x8f\x59\x00\x3b' >"$1/zeroscreen.gif"
}

seed_fuzz_config_xml() {
  # The first byte picks the file: 0 DevInfo, 1 UserInfo, 2 RecInfo, 3 Recover.
  printf '\x00<?xml version="1.0" encoding="gb2312" ?>\n<DevInfo><DevList><Dev><DevType>4</DevType><DevName>\xc7\xb0\xc3\xc5</DevName><Online>1</Online><NVRChannels>1</NVRChannels><CurNVRChannel>2</CurNVRChannel><AlarmLink0><AlarmType>14</AlarmType></AlarmLink0></Dev></DevList><GroupList><Group><GroupName nType="0">A</GroupName></Group></GroupList><AlarmAudio AudioInfo="1"/><Mine/></DevInfo>' >"$1/devinfo"
  printf '\x01<?xml version="1.0" encoding="gb2312" ?>\n<UserInfo><DispInfoSetting><Title>Qelm</Title><SyncTime enable="1" diff="5"/></DispInfoSetting><mlog>0</mlog><LoginList><Login><UserName>a</UserName><FullDisp>1</FullDisp></Login></LoginList><UserList><User><UserName>\xd5\xc5</UserName><Password>pw</Password></User></UserList><RoleList><Role><RoleName>r</RoleName><SurPTZ>1</SurPTZ></Role></RoleList></UserInfo>' >"$1/userinfo"
  printf '\x02<?xml version="1.0" encoding="gb2312" ?>\n<RecInfo><RecScheme><SchemeName>p</SchemeName><OnOff>1</OnOff><Dev><DevName DevId="b">cam</DevName><DevName>Channel-1</DevName><DevName>nvr</DevName></Dev><RecTimeList><RecTime><TimeDuration>1</TimeDuration><DayOfWeek>8</DayOfWeek><StartTime>00:00:00</StartTime><EndTime>2020-1-1 23:59:59</EndTime></RecTime></RecTimeList></RecScheme></RecInfo>' >"$1/recinfo"
  printf '\x03<?xml version="1.0" encoding="gb2312" ?>\n<RecoverInfo><DispStatus UserName="admin" DispMode="4" /><SurStauts UserName="admin" DevId="a" DevName="cam" WndNo="1" MonitorNum="0" DispMode="9" /><SurStauts UserName="bob" DevName="x"/></RecoverInfo>' >"$1/recover"
  printf '\x00<DevInfo><DevList><Dev><DevName>cut' >"$1/damaged"
}

seed_fuzz_device_sim() {
  cp "$ROOT/tests/fixtures/DeviceSim.xml" "$1/demo.xml"
  printf '\xef\xbb\xbf<DeviceSim><Device Address="127.0.0.3" Port="5000" User="\xe9\x97\xa8"><Preset>1</Preset><Storage DevName="usb" Total="9"/></Device><Found Serial="Q1" VideoPort="554"/></DeviceSim>' >"$1/bom.xml"
  printf '<DeviceSim><Device Address="127.0.0.1" Port="0"/></DeviceSim>' >"$1/badport.xml"
  printf '<DeviceSim><a><a><a></a></a></a><Found/></DeviceSim>' >"$1/nested.xml"
}

# Camera replies: framed HTTP (plain, chunked, a digest challenge) and bare
# SOAP bodies of the kinds the ONVIF client reads.
seed_fuzz_onvif_reply() {
  local env='<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" xmlns:tt="http://www.onvif.org/ver10/schema"><s:Body>'
  printf 'HTTP/1.1 200 OK\r\nContent-Length: 231\r\n\r\n%s<GetProfilesResponse><Profiles token="P1"><Name>a</Name><VideoEncoderConfiguration><Resolution><Width>1920</Width><Height>1080</Height></Resolution></VideoEncoderConfiguration></Profiles></GetProfilesResponse></s:Body></s:Envelope>' "$env" >"$1/profiles"
  printf 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n<s:En\r\n0\r\n\r\n' >"$1/chunked"
  printf 'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm="cam", qop="auth", nonce="n1", opaque="o"\r\nContent-Length: 0\r\n\r\n' >"$1/digest"
  printf '%s<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:NotAuthorized</s:Value></s:Subcode></s:Code><s:Reason><s:Text>no</s:Text></s:Reason></s:Fault></s:Body></s:Envelope>' "$env" >"$1/fault"
  printf '%s<GetSystemDateAndTimeResponse><SystemDateAndTime><UTCDateTime><Time><Hour>1</Hour><Minute>2</Minute><Second>3</Second></Time><Date><Year>2026</Year><Month>1</Month><Day>2</Day></Date></UTCDateTime></SystemDateAndTime></GetSystemDateAndTimeResponse></s:Body></s:Envelope>' "$env" >"$1/time"
  printf '%s<GetCapabilitiesResponse><Capabilities><Events><XAddr>http://127.0.0.1/e</XAddr><WSPullPointSupport>true</WSPullPointSupport></Events><Media><XAddr>http://127.0.0.1/m</XAddr></Media><PTZ><XAddr>http://127.0.0.1/p</XAddr></PTZ></Capabilities></GetCapabilitiesResponse></s:Body></s:Envelope>' "$env" >"$1/caps"
  printf '%s<PullMessagesResponse><NotificationMessage><Topic>tns1:Device/Trigger/DigitalInput</Topic><Message><tt:Message UtcTime="2026-01-02T03:04:05.5+01:00"><tt:Source><tt:SimpleItem Name="InputToken" Value="DI_2"/></tt:Source><tt:Data><tt:SimpleItem Name="LogicalState" Value="true"/></tt:Data></tt:Message></Message></NotificationMessage></PullMessagesResponse></s:Body></s:Envelope>' "$env" >"$1/events"
  printf '%s<GetPresetsResponse><Preset token="1"><tt:Name>a</tt:Name></Preset></GetPresetsResponse><GetStreamUriResponse><MediaUri><tt:Uri>rtsp://127.0.0.1/1</tt:Uri></MediaUri></GetStreamUriResponse></s:Body></s:Envelope>' "$env" >"$1/presets"
  printf '%s<ProbeMatches><ProbeMatch><XAddrs>http://127.0.0.1:80/onvif/device_service http://[::1]/x</XAddrs></ProbeMatch></ProbeMatches></s:Body></s:Envelope>' "$env" >"$1/probe"
}

seed_fuzz_rec_search_answer() {
  printf '<RESPONSE_PARAM FileCount="45"><RECORD_FILE FilePath="/mnt/sd/080000-av-1.mp4" FileLength="1048576"/><RECORD_FILE FilePath="/mnt/sd/b.mp4"/></RESPONSE_PARAM>' >"$1/files"
  printf '<RESPONSE_PARAM FileCount="&#10;3"/>' >"$1/count"
  printf '<RESPONSE_PARAM ChannelId="3" Stream="%s"/>' "$(printf 'A%.0s' $(seq 1 1440))" >"$1/day"
  printf '<RESPONSE_PARAM ChannelId="2"><x><y/></x></RESPONSE_PARAM>' >"$1/nested"
}

seed_fuzz_string_table() {
  printf '# comment\n850\tOK\n851\tCancel\n968\tline\\nnext\\t\\\\\n' >"$1/table.lang"
  printf '\xef\xbb\xbf228\t\xe8\xaf\xa5\xe7\xa8\x8b\xe5\xba\x8f\r\n\r\n1\t\n' >"$1/bom.lang"
  printf '850 OK\n65536\tx\n' >"$1/broken.lang"
}

seed_fuzz_report_compare() {
  printf '9\0A' >"$1/hex"
  printf '1.5\x0010%%' >"$1/percent"
  printf '2024-01-05 08:00\x002023/12/31' >"$1/dates"
  printf '12:30 PM\x0012:29:59' >"$1/times"
  printf -- '-1\x005' >"$1/minus"
  printf 'x\0X' >"$1/text"
}

seed_fuzz_mp4_reader() {
  # Small MP4 files made by ffmpeg (H.264 + AAC, H.265 + mu-law, audio only).
  local lavfi="-f lavfi -i testsrc2=size=64x48:rate=10 -f lavfi -i sine=sample_rate=8000"
  ffmpeg -nostdin -v error -y $lavfi -t 0.5 -c:v libx264 -bf 0 -g 3 -c:a aac -f mp4 "$1/h264_aac.mp4" || true
  ffmpeg -nostdin -v error -y $lavfi -t 0.5 -c:v libx265 -x265-params log-level=error:bframes=0 -c:a pcm_mulaw -f mov "$1/h265_ulaw.mov" || true
  ffmpeg -nostdin -v error -y -f lavfi -i sine=sample_rate=16000 -t 0.3 -c:a aac -f mp4 "$1/aac.mp4" || true
  printf '\x00\x00\x00\x08moov' >"$1/empty_moov"
}

seed_fuzz_mp4_journal() {
  # Damage instructions: a cut for the journal, byte flips, then the same for the data.
  printf '\x00\x00\x00\x00\x00\x00' >"$1/intact"
  printf '\x80\x40\x00\x00\x00\x00' >"$1/cut_journal"
  printf '\x00\x00\x02\x00\x30\x01\x01\x00\x08\x00\x00\x00' >"$1/flips"
  printf '\x00\x00\x00\x80\x20\x00' >"$1/cut_data"
}

# Camera frames for the recorder: a head (codecs, frame rate, configuration
# bytes) and frames (flags, time step, 16-bit length, bytes): real H.264 and
# H.265 access units with G.711 and ADTS AAC from ffmpeg, and small
# hand-made streams (sets as frames of their own, sets only in the record).
seed_fuzz_mp4_recorder() {
  local tmp
  tmp="$(mktemp -d)"
  local lavfi="-f lavfi -i testsrc2=size=64x48:rate=25 -t 0.4"
  ffmpeg -nostdin -v error -y $lavfi -c:v libx264 -bf 0 -g 5 -x264-params aud=1 -f h264 "$tmp/v.h264" || true
  ffmpeg -nostdin -v error -y $lavfi -c:v libx265 -x265-params log-level=error:bframes=0:keyint=5:aud=1:repeat-headers=1 \
    -f hevc "$tmp/v.hevc" || true
  ffmpeg -nostdin -v error -y -f lavfi -i sine=sample_rate=8000 -t 0.4 -c:a pcm_mulaw -f mulaw "$tmp/a.ul" || true
  ffmpeg -nostdin -v error -y -f lavfi -i sine=sample_rate=16000 -t 0.4 -c:a aac -f adts "$tmp/a.aac" || true
  python3 - "$1" "$tmp" <<'PY'
import os, struct, sys
out, tmp = sys.argv[1], sys.argv[2]
def read(name):
    path = os.path.join(tmp, name)
    return open(path, "rb").read() if os.path.exists(path) else b""
def split(data, aud):
    parts = data.split(aud)
    return [aud + p for p in parts[1:]]
def adts(data):
    frames, pos = [], 0
    while pos + 7 <= len(data) and data[pos] == 0xFF:
        n = ((data[pos + 3] & 3) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5)
        if n < 7:
            break
        frames.append(data[pos:pos + n])
        pos += n
    return frames
def frame(video, key, data, step=40, collect=False):
    flags = (1 if video else 0) | (2 if key else 0) | (4 if collect else 0)
    return bytes([flags, (step // 7) & 0xFF]) + struct.pack(">H", len(data)) + data[:0xFFFF]
def head(video, audio, rate=25, config=b""):
    return bytes([video | (audio << 2), rate, len(config)]) + config
def interleave(vframes, aframes, h265=False):
    body = b""
    for i, v in enumerate(vframes):
        key = (h265 and b"\x00\x00\x00\x01\x40\x01" in v) or (not h265 and b"\x00\x00\x00\x01\x67" in v)
        body += frame(True, key, v, collect=h265)
        if i < len(aframes):
            body += frame(False, True, aframes[i], step=0)
    return body
h264 = split(read("v.h264"), b"\x00\x00\x00\x01\x09")
h265 = split(read("v.hevc"), b"\x00\x00\x00\x01\x46\x01")
ulaw = [read("a.ul")[i:i + 320] for i in range(0, len(read("a.ul")), 320)]
aac = adts(read("a.aac"))
if h264:
    open(out + "/h264_g711", "wb").write(head(1, 4) + interleave(h264, ulaw))
if h265:
    open(out + "/h265_aac", "wb").write(head(2, 1) + interleave(h265, aac, h265=True))
def annexb(*units):
    return b"".join(b"\x00\x00\x00\x01" + u for u in units)
sps, pps = b"\x67\x4d\x40\x28\x95\xa0\x1e", b"\x68\xee\x3c\x80"
idr, p = b"\x65" + b"\x11" * 40, b"\x41" + b"\x22" * 20
open(out + "/sets_in_record", "wb").write(head(1, 2, config=annexb(sps, pps))
    + frame(True, False, annexb(p)) + frame(True, True, annexb(idr)) + frame(True, False, annexb(p, p, p))
    + frame(False, True, b"\x00\x10\x00\x38" + b"\x21" * 7))
vps, hsps, hpps = b"\x40\x01" + b"\x0c" * 20, b"\x42\x01" + b"\x01" * 24, b"\x44\x01\xc1\x72"
open(out + "/h265_sets_as_frames", "wb").write(head(3, 4, rate=200)
    + frame(True, False, annexb(vps), collect=True) + frame(True, False, annexb(hsps), collect=True)
    + frame(True, False, annexb(hpps), collect=True) + frame(True, True, annexb(b"\x26\x01" + b"\x33" * 30))
    + frame(True, False, annexb(b"\x02\x01" + b"\x44" * 10), step=-70) + frame(False, True, b"\xff\xf1" + b"\x7f" * 158))
PY
  rm -rf "$tmp"
}

# AVI record files: whole files of both header forms (finished, with an odd
# chunk, unfinished) and compact inputs that the target puts behind a header.
seed_fuzz_avi_reader() {
  python3 - "$1" <<'PY'
import struct, sys
out = sys.argv[1]
def chunks(items):
    data, index, off = b"", b"", 4
    for code, flags, payload in items:
        data += code + struct.pack("<I", len(payload)) + payload
        index += code + struct.pack("<III", flags, off, len(payload))
        off += 8 + len(payload)
    return data, index
def avi(av, handler, items, finished=True):
    size = 9896 if av else 5672
    h = bytearray(size)
    h[0:4] = b"RIFF"; h[8:12] = b"AVI "
    struct.pack_into("<I", h, 56, 2 if av else 1)
    struct.pack_into("<II", h, 64, 176, 144)
    h[112:116] = handler
    struct.pack_into("<I", h, 132, 25)
    if av:
        struct.pack_into("<I", h, 4360, 1)
    h[size - 12:size - 8] = b"LIST"; h[size - 4:size] = b"movi"
    data, index = chunks(items)
    pad = b"\xff" * ((4 - len(data) % 4) % 4)
    if finished:
        struct.pack_into("<I", h, size - 8, len(data) + len(pad) + 4)
        return bytes(h) + data + pad + b"idx1" + struct.pack("<I", len(index)) + index
    return bytes(h) + data
idr = b"\x00\x00\x00\x01\x67\x42\x00\x00\x00\x01\x68\xce\x00\x00\x00\x01\x65\x88\x80"
p = b"\x00\x00\x00\x01\x41\x9a\x02"
hevc = b"\x00\x00\x00\x01\x40\x01\x0c\x00\x00\x00\x01\x42\x01\x01\x00\x00\x00\x01\x26\x01\xaf"
items = [(b"00dc", 16, idr)] + [(b"00dc", 0, p)] * 30 + [(b"00dc", 16, idr)]
open(out + "/video.avi", "wb").write(avi(False, b"H264", items))
open(out + "/av.avi", "wb").write(avi(True, b"H264", [(b"01wb", 16, b"\x7f" * 5)] + items[:5] + [(b"01wb", 16, b"\x01")]))
open(out + "/unfinished.avi", "wb").write(avi(False, b"H264", items[:8], finished=False)[:-3])
open(out + "/hevc.avi", "wb").write(avi(False, b"H265", [(b"00dc", 16, hevc), (b"00dc", 0, b"\x00\x00\x00\x01\x02\x01\xd0")]))
open(out + "/mpeg4.avi", "wb").write(avi(False, b"XVID", [(b"00dc", 16, b"\x00\x00\x01\x01" + b"\x22" * 30)]))
data, index = chunks(items[:6])
open(out + "/compact", "wb").write(bytes([0, 0]) + struct.pack("<I", 25) + struct.pack("<I", len(data) + 4) + data + b"idx1" + struct.pack("<I", len(index)) + index)
open(out + "/compact-walk", "wb").write(bytes([1, 2]) + struct.pack("<I", 0xFFFFFFFF) + b"\xff\xff\xff\xff" + chunks([(b"00dc", 16, hevc)])[0])
PY
}

# Device-control events: kind, id, code (4 bytes), payload length, payload.
seed_fuzz_aux_ptz_events() {
  python3 - "$1" <<'PY'
import struct, sys
out = sys.argv[1]
def ev(kind, dev, code, payload=b""):
    return bytes([kind, dev]) + struct.pack("<i", code) + bytes([len(payload)]) + payload
alarm = struct.pack("<ii", 14, 3) + b"motion".ljust(168, b"\0")
open(out + "/status", "wb").write(ev(0, 1, 26, b"4") + ev(0, 1, 27, b"0101") + ev(0, 2, 30, b"55") + ev(0, 1, 3))
open(out + "/answers", "wb").write(ev(1, 1, 0, b"<PTZ/>") + ev(2, 1, 1012, b"V1.2") + ev(2, 2, 1014, b"<Disk/>")
    + ev(2, 1, (0x7f << 24) | 1017) + ev(2, 1, 1021, b"<RecFile/>") + ev(2, 1, 3001, b"0101"))
open(out + "/alarms", "wb").write(ev(3, 1, 0, alarm) + ev(3, 1, 0, alarm) + ev(3, 0, 0, alarm) + ev(3, 2, 0, alarm[:100]))
open(out + "/media", "wb").write(ev(4, 1, 7, b"\x01" * 40) + ev(5, 1, 3, b"<Speak/>") + ev(5, 1, 4, b"<Param/>")
    + ev(6, 1, 0) + ev(7, 2, 50))
PY
}

# Talk-back packets: a 16-bit length, then a PacketHead and mu-law bytes.
seed_fuzz_audio_input() {
  python3 - "$1" <<'PY'
import struct, sys
out = sys.argv[1]
def pkt(key, payload, kind=3, size=None, seq=0):
    head = b"\0" * 8 + struct.pack("<HH", seq, len(payload) if size is None else size) + b"\0\0" + bytes([kind, 0]) + struct.pack("<I", key)
    body = head + payload
    return struct.pack("<H", len(body)) + body
open(out + "/ordered", "wb").write(b"".join(pkt(k, bytes([0x20 + k]) * 160, seq=k) for k in range(12)))
open(out + "/shuffled", "wb").write(b"".join(pkt(k, b"\xff" * 160) for k in (5, 2, 9, 0, 7, 1, 8, 3, 6, 4, 4, 11)))
open(out + "/edges", "wb").write(b"".join(pkt(k, b"\x80" * 160) for k in range(10)) + pkt(20, b"\x00" * 1361)
    + pkt(21, b"\x00" * 1360) + pkt(22, b"\x11" * 160, kind=0) + pkt(23, b"\x11" * 40, size=400)
    + struct.pack("<H", 10) + b"\0" * 10 + pkt(24, b"\x22" * 1700))
PY
}

# Stream pull packets: codec, limit byte, then records of kind, 16-bit length, bytes.
seed_fuzz_patrol_info() {
  printf '<?xml version="1.0" encoding="gb2312" ?>\n<PatrolList><Patrol><DecodeName>Player-3</DecodeName><Point><StayTime>10</StayTime><DispMode/><DevName1 StreamType="1">Gate</DevName1></Point></Patrol></PatrolList>' >"$1/player"
  printf '<PatrolList><Patrol><DecodeName>Dec</DecodeName><Point><StayTime>20</StayTime><DispMode>16</DispMode><DevName1 StreamType="1">a</DevName1><DevName2 StreamType="0">10.0.0.1:Ch-1</DevName2></Point></Patrol><Patrol><DecodeName>Dec</DecodeName></Patrol></PatrolList>' >"$1/decoder"
  printf 'Cam1:SubStream' >"$1/entry"
}

seed_fuzz_udp_login() {
  python3 - "$1" <<'PY'
import struct, sys
out = sys.argv[1]
def pkt(cmd, length, body=b""):
    b = b"kwzd" + struct.pack("<IHHI", length - 16, 16, cmd, 0) + body
    return b + bytes(max(0, length - len(b)))
open(out + "/login_ok", "wb").write(pkt(6, 160, struct.pack("<IIII", 0, 0, 0x11, 0x22)))
open(out + "/login_refused", "wb").write(pkt(6, 160, struct.pack("<I", 1)))
open(out + "/login_short", "wb").write(pkt(6, 159))
open(out + "/keepalive_rsp", "wb").write(pkt(10, 16))
text = b"ip:10.1.2.3\r\nptz:8091\r\nweb:80\r\nvideo:554\r\nph:1"
open(out + "/notice", "wb").write(pkt(2, 1232, struct.pack("<QI", 2**64 - 1, 100001004) + text))
open(out + "/notice_long", "wb").write(pkt(2, 1300, struct.pack("<QI", 7, 100001001) + b"A" * 1204))
open(out + "/notice_short", "wb").write(pkt(2, 1000))
open(out + "/header_only", "wb").write(b"kwzd" + bytes(11))
PY
}

seed_fuzz_stream_shaper() {
  python3 - "$1" <<'PY'
import struct, sys
out = sys.argv[1]
def rec(kind, payload):
    return bytes([kind]) + struct.pack("<H", len(payload)) + payload
sc = b"\x00\x00\x00\x01"
sps, pps = sc + b"\x67\x42\x00\x1e\x95\xa8", b"\x00\x00\x01\x68\xce\x3c\x80"
idr, p = sc + b"\x65\x88\x84" + b"\x11" * 40, sc + b"\x41\x9a\x02" + b"\x22" * 20
open(out + "/h264", "wb").write(bytes([0, 8]) + rec(1, sps + pps) + rec(0x14, b"\x00\x00\x00\x01\x09\xf0" + sps + pps + idr)
    + rec(0x10, p) + rec(0x10, p[:20]) + rec(0, p[20:]) + rec(0x10, idr) + rec(0x18, p))
frag = b"\x41" + b"\xff" * 200
open(out + "/fragments", "wb").write(bytes([0, 1]) + rec(0x10, idr) + rec(0x10, frag) + b"".join(rec(0, frag) for _ in range(8))
    + rec(0x10, p))
vps, hsps, hpps = sc + b"\x40\x01\x0c\x01", sc + b"\x42\x01\x01\x01", sc + b"\x44\x01\xc1\x72"
open(out + "/h265", "wb").write(bytes([1, 20]) + rec(1, vps + hsps + hpps) + rec(0x10, sc + b"\x26\x01\xaf" + b"\x33" * 30)
    + rec(0x10, sc + b"\x02\x01\xd0" + b"\x44" * 10) + rec(0x10, vps + hsps + hpps + sc + b"\x28\x01\xaf"))
open(out + "/mpeg4", "wb").write(bytes([2, 3]) + rec(0x14, b"\x00\x00\x01\xb6" + b"\x10" * 50) + rec(0x10, b"\x00\x00\x01\xb6\x50" * 5))
open(out + "/aac", "wb").write(bytes([0, 0]) + rec(2, bytes([0x10, 0x13]) + b"\x21" * 100) + rec(3, b"\x21" * 300)
    + rec(2, bytes([0xf8, 0xa5])) + rec(3, b"\x55" * 8190))
PY
}

WORK="$BUILD/fuzz/run"
rm -rf "$WORK"
mkdir -p "$WORK"
failed=()
ran=0
for exe in "$BUILD"/fuzz/bin/fuzz_*; do
  [ -x "$exe" ] || continue
  name="$(basename "$exe")"
  if [ -n "${FUZZ_TARGETS:-}" ] && [[ " $FUZZ_TARGETS " != *" $name "* ]]; then
    continue
  fi
  dir="$WORK/$name"
  mkdir -p "$dir/seeds" "$dir/corpus" "$dir/artifacts"
  if declare -F "seed_$name" >/dev/null; then
    "seed_$name" "$dir/seeds"
  fi
  echo "run-fuzzers: $name for ${SECONDS_EACH}s"
  ran=$((ran + 1))
  if ! "$exe" -seed="${FUZZ_SEED:-0}" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/" "$dir/corpus" "$dir/seeds" >"$dir/log.txt" 2>&1; then
    failed+=("$name")
    tail -n 60 "$dir/log.txt"
    echo "run-fuzzers: $name FAILED; reproducer in $dir/artifacts/"
  else
    grep -E '^stat::number_of_executed_units' "$dir/log.txt" || true
  fi
done

if [ "$ran" -eq 0 ]; then
  echo "run-fuzzers: no fuzz targets found in $BUILD/fuzz/bin" >&2
  exit 1
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "run-fuzzers: crashes in ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzzers: $ran targets ran without a crash"
