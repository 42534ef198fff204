<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MyWidget</name>
    <message>
        <source>Address:</source>
        <translation>地址:</translation>
    </message>
    <message>
        <source>Are you sure to close it?</source>
        <translation>你确定要关闭吗?</translation>
    </message>
    <message>
        <source>Baudrate:</source>
        <translation>波特率:</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>调用</translation>
    </message>
    <message>
        <source>Choose HexFile</source>
        <translation>选择下载文件</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>ComName:</source>
        <translation>串口号:</translation>
    </message>
    <message>
        <source>Communication</source>
        <translation>通讯</translation>
    </message>
    <message>
        <source>Communication </source>
        <translation>通讯</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>下</translation>
    </message>
    <message>
        <source>Down-Left</source>
        <translation>左下</translation>
    </message>
    <message>
        <source>Down-Right</source>
        <translation>右下</translation>
    </message>
    <message>
        <source>Download Error,Please restart.</source>
        <translation>下载错误,请重试.</translation>
    </message>
    <message>
        <source>Hex File Error,Please restart.</source>
        <translation>文件错误,请重试.</translation>
    </message>
    <message>
        <source>Erase All Error,Please restart.</source>
        <translation>擦除错误,请重试.</translation>
    </message>
    <message>
        <source>Erase Command Error,Please restart.</source>
        <translation>擦除命令错误,请重试.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Far</source>
        <translation>远</translation>
    </message>
    <message>
        <source>Filp</source>
        <translation>翻转</translation>
    </message>
    <message>
        <source>Get ID</source>
        <translation>获取ID</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>原点</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>左</translation>
    </message>
    <message>
        <source>Lens</source>
        <translation>镜头</translation>
    </message>
    <message>
        <source>Near</source>
        <translation>近</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>正常</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>PT Reset</source>
        <translation>云台重置</translation>
    </message>
    <message>
        <source>Pan/Tilt</source>
        <translation>云台</translation>
    </message>
    <message>
        <source>Power Off</source>
        <translation>关机</translation>
    </message>
    <message>
        <source>Power On</source>
        <translation>开机</translation>
    </message>
    <message>
        <source>Preset</source>
        <translation>预置点</translation>
    </message>
    <message>
        <source>Protocol:</source>
        <translation>协议:</translation>
    </message>
    <message>
        <source>Quillon Desk</source>
        <translation>奎隆调试台</translation>
    </message>
    <message>
        <source>Read SN</source>
        <translation>读取序列号</translation>
    </message>
    <message>
        <source>Read SW</source>
        <translation>读取拨码</translation>
    </message>
    <message>
        <source>Receive</source>
        <translation>接收</translation>
    </message>
    <message>
        <source>Refresh </source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>右</translation>
    </message>
    <message>
        <source>SN</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Serial Port Error,Please restart.</source>
        <translation>串口错误,请重试.</translation>
    </message>
    <message>
        <source>Serial port error or machine failure,Please restart.</source>
        <translation>串口错误或者机器错误,请重试.</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Set SN</source>
        <translation>设置序列号</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Special</source>
        <translation>特殊</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>速度</translation>
    </message>
    <message>
        <source>Stopbit:  </source>
        <translation>停止位:</translation>
    </message>
    <message>
        <source>The serial number is less than 12 bits</source>
        <translation>序列号小于12位</translation>
    </message>
    <message>
        <source>The serial number is less than 15 bits</source>
        <translation>序列号小于15位</translation>
    </message>
    <message>
        <source>Tip</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上</translation>
    </message>
    <message>
        <source>Up-Left</source>
        <translation>左上</translation>
    </message>
    <message>
        <source>Up-Right</source>
        <translation>右上</translation>
    </message>
    <message>
        <source>Updata</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Zoom Reset</source>
        <translation>镜头重置</translation>
    </message>
    <message>
        <source>Zoom Tele</source>
        <translation>拉近</translation>
    </message>
    <message>
        <source>Zoom Wide</source>
        <translation>推远</translation>
    </message>
    <message>
        <source>Erase only the pages the firmware needs</source>
        <translation>仅擦除固件所需的页</translation>
    </message>
    <message>
        <source>Read the firmware back after writing</source>
        <translation>写入后回读校验固件</translation>
    </message>
    <message>
        <source>Bootloader at 115200 baud</source>
        <translation>引导程序使用 115200 波特率</translation>
    </message>
    <message>
        <source>Failed: image refused</source>
        <translation>失败: 固件被拒</translation>
    </message>
    <message>
        <source>Failed: identify</source>
        <translation>失败: 识别芯片</translation>
    </message>
    <message>
        <source>Failed: read-back</source>
        <translation>失败: 回读校验</translation>
    </message>
    <message>
        <source>All panels</source>
        <translation>全部面板</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>Failed: port settings</source>
        <translation>失败: 串口参数</translation>
    </message>
    <message>
        <source>Failed: sync</source>
        <translation>失败: 同步</translation>
    </message>
    <message>
        <source>Failed: Get ID</source>
        <translation>失败: 获取ID</translation>
    </message>
    <message>
        <source>Failed: erase</source>
        <translation>失败: 擦除</translation>
    </message>
    <message>
        <source>Failed: block at %1</source>
        <translation>失败: %1 处的数据块</translation>
    </message>
    <message>
        <source>Failed: Go</source>
        <translation>失败: 启动程序</translation>
    </message>
    <message>
        <source>Failed: cannot read the file</source>
        <translation>失败: 无法读取文件</translation>
    </message>
    <message>
        <source>Failed: file line %1</source>
        <translation>失败: 文件第 %1 行</translation>
    </message>
    <message>
        <source>Failed: file</source>
        <translation>失败: 文件</translation>
    </message>
    <message>
        <source>Failed: port</source>
        <translation>失败: 串口</translation>
    </message>
    <message>
        <source>Another program holds %1 (%2). Close the port there, or choose another one.</source>
        <translation>另一个程序正在使用 %1 (%2)。请先在那里关闭它,或选择其他串口。</translation>
    </message>
    <message>
        <source>There is no device %1: %2.</source>
        <translation>没有设备 %1: %2。</translation>
    </message>
    <message>
        <source>This user may not open %1: %2.</source>
        <translation>当前用户无权打开 %1: %2。</translation>
    </message>
    <message>
        <source>This user may not open %1: %2. The device belongs to the group %3; to join it, run "sudo usermod -aG %3 $USER", then log out and in again.</source>
        <translation>当前用户无权打开 %1: %2。该设备属于用户组 %3;要加入该组,请运行 "sudo usermod -aG %3 $USER",然后注销并重新登录。</translation>
    </message>
    <message>
        <source>%1 did not open: %2.</source>
        <translation>%1 无法打开: %2。</translation>
    </message>
    <message>
        <source>The port is open already.</source>
        <translation>串口已经打开。</translation>
    </message>
    <message>
        <source>No serial port is called "%1".</source>
        <translation>没有名为"%1"的串口。</translation>
    </message>
    <message>
        <source>The settings cannot be saved.</source>
        <translation>设置无法保存.</translation>
    </message>
    <message>
        <source>%1 cannot be written: what you type into the window is lost when it closes. Start Quillon Desk from a folder you may write to.</source>
        <translation>%1 无法写入: 在窗口中输入的内容将在关闭时丢失。请从一个可写入的文件夹启动 Quillon Desk。</translation>
    </message>
</context>
<context>
    <name>aboutme</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
</context>
</TS>
