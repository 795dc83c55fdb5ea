// The numbered message table: every message key with its texts in three languages.
//
// Some texts keep deliberate blanks at their ends (00000022, 00000113, 00000115) or inside
// (00000017): they are joined to other text on screen.
#include "lang/MessageTable.h"

namespace {

constexpr MessageGroup A = MessageGroup::Shown;
constexpr MessageGroup C = MessageGroup::Unshown;
constexpr MessageGroup B = MessageGroup::FileOnly;

// clang-format off
constexpr MessageEntry kEntries[] = {
    {"00000001", A, "Snapshot(F8)", "拍照[F8]", "拍照(F8)", nullptr},
    {"00000002", A, "Browse", "浏览", "瀏覽", nullptr},
    {"00000003", A, "Setup", "设置", "設置", nullptr},
    {"00000004", A, "About", "关于", "關於", nullptr},
    {"00000005", A, "Close", "关闭", "關閉", nullptr},
    {"00000007", A, "Delay", "延时", "延時", nullptr},
    {"00000008", A, "Save Photograph Path:", "照片存储路径:", "照片存儲路徑:", nullptr},
    {"00000009", A, "OK", "确定", "確定", nullptr},
    {"00000010", A, "Cancel", "取消", "取消", nullptr},
    {"00000011", A, "Apply", "应用", "應用", nullptr},
    {"00000014", A, "No Capture Device has been detected!", "未发现可以使用的视频捕获设备!", "未發現可以使用的視頻捕獲設備!", nullptr},
    {"00000015", A, "Snapix Application has already run!", "已经有Snapix系统软件运行!", "已經有Snapix系統軟件運行!", nullptr},
    {"00000016", A, "Are you sure quit?", "您确定退出本系统吗?", "您確定退出本系統嗎?", nullptr},
    {"00000017", A, "Select Delay , auto snapshot after 5 seconds.", "勾选 延时  ,将在点击拍照后5秒自动拍照.", "勾選 延時  ,將在點擊拍照後5秒自動拍照.", nullptr},
    {"00000018", A, "Snapshot shortcut F8", "拍照快捷键F8", "拍照快捷鍵F8", nullptr},
    {"00000019", A, "Friendly Hint: Click Browse button, can browse photographs.", "友情提示:点击主界面的 浏览 按钮可直接浏览拍摄的影像.", "友情提示:點擊主界面的 瀏覽 按鈕可直接瀏覽拍攝的照片。", nullptr},
    {"00000021", A, "Congratulations: snapshot success!", "恭喜:拍摄成功!", "恭喜:拍攝成功!", nullptr},
    {"00000022", A, "Your photograph has been saved to ", "您拍摄的影像已经保存至 ", "您拍攝的照片已經保存至 ", nullptr},

    {"00000030", C, "Good luck!", "开始视频", nullptr, nullptr},
    {"00000031", C, "Send to IP Address", "照片发送至IP地址", nullptr, nullptr},
    {"00000032", C, "STOP", "停止视频", nullptr, nullptr},
    {"00000033", C, "Connected.", "已经连接.", nullptr, nullptr},
    {"00000034", C, "DisConnected.", "断开连接.", nullptr, nullptr},
    {"00000035", C, "Send Fail!", "发送失败!", nullptr, nullptr},
    {"00000036", C, "Send Success!", "发送成功!", nullptr, nullptr},
    {"00000037", C, "Check net or e-mail is work well.", "请检查网络或电子邮件是否正常.", nullptr, nullptr},
    {"00000039", C, "Please enter e-mail address!", "请输入接收邮件的地址!", nullptr, nullptr},
    {"00000040", C, "E-mail address format error!", "您输入的邮件地址格式不正确!", nullptr, nullptr},
    {"00000041", C, "Your E-mail address", "您的邮箱地址", nullptr, nullptr},
    {"00000042", C, "Video file save path:", "录像存储路径:", nullptr, nullptr},
    {"00000043", C, "Hint: click mainform button browse can browse photoes directly.", "友情提示:点击主界面的 浏览 按钮可直接浏览拍摄的影像.", nullptr, nullptr},
    {"00000044", C, "Video file save path:", "录像存储路径:", nullptr, nullptr},
    {"00000045", C, "STOP", "停止录像", nullptr, "停止录像[F8]"},
    {"00000046", C, "START", "开始录像", nullptr, "开始录像[F8]"},

    {"00000056", B, "Default", "默认值", nullptr, nullptr},
    {"00000057", B, "Camera Paramerts", "摄像头参数", nullptr, nullptr},
    {"00000058", B, "Video Campture Device", "视频采集设备", nullptr, nullptr},
    {"00000059", B, "Video Source Resolution", "视频源分辨率", nullptr, nullptr},
    {"00000060", B, "Brightness", "亮度", nullptr, nullptr},
    {"00000061", B, "Contras", "对比度", nullptr, nullptr},
    {"00000062", B, "Hue", "色调", nullptr, nullptr},
    {"00000063", B, "Color", "彩色", nullptr, nullptr},
    {"00000064", B, "Photo Property", "照片属性", nullptr, nullptr},
    {"00000065", B, "Save Parameters", "保存参数", nullptr, nullptr},
    {"00000066", B, "Output Photo Format", "输出照片格式", nullptr, nullptr},
    {"00000067", B, "Pre-Name Photo File", "照片文件名前缀", nullptr, nullptr},
    {"00000068", B, "Named Way Photo File", "照片文件名命名方式", nullptr, nullptr},
    {"00000069", B, "DateTime", "日期时间", nullptr, nullptr},
    {"00000070", B, "Normal NO", "流水号", nullptr, nullptr},
    {"00000071", B, "Save Photo Path", "照片存储路径", nullptr, nullptr},
    {"00000072", B, "Photo Quality", "照片品质", nullptr, nullptr},
    {"00000073", B, "Low", "低", nullptr, nullptr},
    {"00000074", B, "High", "高", nullptr, nullptr},
    {"00000075", B, "Open Output Resolution", "启用输出照片分辨率", nullptr, nullptr},
    {"00000076", B, "Interpolation Resolution", "插值分辨率", nullptr, nullptr},
    {"00000077", B, "Way", "拍照方式", nullptr, nullptr},
    {"00000078", B, "Delay", "延时拍照", nullptr, nullptr},
    {"00000079", B, "Delay(Sec)", "延迟时间(秒)", nullptr, nullptr},
    {"00000080", B, "Continuous", "连续拍照", nullptr, nullptr},
    {"00000081", B, "Continuous Splitter(Sec)", "连拍时间间隔(秒)", nullptr, nullptr},
    {"00000082", B, "Status", "拍照状态", nullptr, nullptr},
    {"00000083", B, "Color", "彩色", nullptr, nullptr},
    {"00000084", B, "Black-And-White", "黑白", nullptr, nullptr},
    {"00000085", B, "Photo Size", "照片大小", nullptr, nullptr},
    {"00000086", B, "Default Size", "默认大小", nullptr, nullptr},
    {"00000087", B, "Define Size(KB)", "自定义大小(单位KB)", nullptr, nullptr},
    {"00000088", B, "Define Size", "自定义大小", nullptr, nullptr},
    {"00000089", B, "KB(<=)", "KB 以内(含)", nullptr, nullptr},
    {"00000090", B, "Overlay Word", "照片字幕", nullptr, nullptr},
    {"00000091", B, "Use Word", "照片使用字幕", nullptr, nullptr},
    {"00000092", B, "Word One", "字幕一", nullptr, nullptr},
    {"00000093", B, "Word Two", "字幕二", nullptr, nullptr},
    {"00000094", B, "Word Three", "字幕三", nullptr, nullptr},
    {"00000095", B, "Print Date", "照片显示日期", nullptr, nullptr},
    {"00000096", B, "Print Time", "照片显示时间", nullptr, nullptr},
    {"00000097", B, "Select Photo", "选择照片", nullptr, nullptr},
    {"00000098", B, "Photo Style", "照片格式", nullptr, nullptr},
    {"00000099", B, "Style One", "单寸照片", nullptr, nullptr},
    {"00000100", B, "Style Two", "二寸照片", nullptr, nullptr},
    {"00000101", B, "CUT", "裁切", nullptr, nullptr},
    {"00000102", B, "SAVE", "保存", nullptr, nullptr},
    {"00000103", B, "COPY", "复制到剪贴板", nullptr, nullptr},
    {"00000104", B, "Previewing.", "预览中.", nullptr, nullptr},
    {"00000105", B, "Capturing.", "拍照中.", nullptr, nullptr},
    {"00000106", B, "Captured.", "拍照完成.", nullptr, nullptr},
    {"00000107", B, "Continuous.", "连续拍照中.", nullptr, nullptr},
    {"00000108", B, "Quality Low:0 High:100 Current:", "照片品质最低值:0 最高值:100 当前值:", nullptr, nullptr},
    {"00000109", B, "Brightness Low:0 High:40 Current:", "亮度最低值:0 最高值:40 当前值:", nullptr, nullptr},
    {"00000110", B, "Contras Low:0 High:40 Current:", "对比度最低值:0 最高值:40 当前值:", nullptr, nullptr},
    {"00000111", B, "Hue Low:0 High:36 Current:", "色调最低值:0 最高值:36 当前值:", nullptr, nullptr},
    {"00000112", B, "Delay Countdown 0 Sec", "延时拍照倒计时 0 秒", nullptr, nullptr},
    {"00000113", B, "Delay Countdown ", "延时拍照倒计时 ", nullptr, nullptr},
    {"00000115", B, " Sec", " 秒", nullptr, nullptr},
    {"00000116", B, "Restore", "恢复屏幕", nullptr, nullptr},
    {"00000117", B, "Full", "全", nullptr, nullptr},
    {"00000118", B, "Cut", "照片剪切", nullptr, nullptr},
    {"00000119", B, "STOP Continuous(F8)", "停止连拍(F8)", nullptr, nullptr},
    {"00000120", B, "SNAPSHOT(F8)", "拍照(F8)", nullptr, nullptr},
    {"00000121", B, "No photo, snapshot first!", "没有可裁切的照片，请先拍照!", nullptr, nullptr},
    {"00000124", B, "Constratulations: Photo has copied to clipboard.", "恭喜: 照片已复制到剪贴板.", nullptr, nullptr},
};
// clang-format on

}  // namespace

std::span<const MessageEntry> MessageEntries() {
    return kEntries;
}

bool InBuiltInTable(const MessageEntry& entry) {
    return entry.group != MessageGroup::FileOnly;
}

const char* BuiltInText(const MessageEntry& entry) {
    return entry.builtIn ? entry.builtIn : entry.simplified;
}
