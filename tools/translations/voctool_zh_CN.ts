<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Voctool</name>
    <message>
        <source>writes COUNT (default 20) recorder files VOC00001.WAV ... into DIR</source>
        <translation>把 COUNT 个（默认 20 个）录音文件 VOC00001.WAV ... 写入 DIR</translation>
    </message>
    <message>
        <source>  DIR    the folder to write into; it is made when missing, files of the same name are replaced
  COUNT  how many recordings, 0 to 99999
</source>
        <translation>  DIR    要写入的文件夹；不存在时新建，同名文件会被替换
  COUNT  录音个数，0 到 99999
</translation>
    </message>
    <message>
        <source>prints the recordings of the card folder DIR in directory order, numbered in that order, one tab-separated row each</source>
        <translation>按目录顺序列出录音卡文件夹 DIR 中的录音，按此顺序编号，每条录音一行，各项以制表符分隔</translation>
    </message>
    <message>
        <source>  DIR  a folder of recordings, such as the VOICE folder of the recorder&apos;s card
  Each row holds the eight texts of the main window&apos;s list: number, file name, phone number,
  recording mode, start time, duration, size, full path.
</source>
        <translation>  DIR  存放录音的文件夹，例如录音卡上的 VOICE 文件夹
  每行是主窗口列表中的八项：序号、文件名、电话号码、
  录音方式、开始时间、录音时长、大小、完整路径。
</translation>
    </message>
    <message>
        <source>prints the recordings of the archive folder DIR that started on those days, in directory order as the search window finds them</source>
        <translation>按“语音查询”窗口的顺序列出上传文件夹 DIR 中在这些日期开始的录音</translation>
    </message>
    <message>
        <source>writes the recordings of DIR to the spreadsheet OUT.xlsx as the windows&apos; &quot;导出Excel&quot; does</source>
        <translation>像窗口中的“导出Excel”一样，把 DIR 中的录音写入电子表格 OUT.xlsx</translation>
    </message>
    <message>
        <source>prints the call statistics of the archive folder DIR as the window &quot;通话统计&quot; counts them, one tab-separated line per figure</source>
        <translation>像“通话统计”窗口一样统计上传文件夹 DIR 中的通话，每个数字一行，各项以制表符分隔</translation>
    </message>
    <message>
        <source>shows the note of the recording PATH, or sets its description and user type</source>
        <translation>显示录音 PATH 的录音说明，或设置它的说明和用户类型</translation>
    </message>
    <message>
        <source>  PATH              a recording; its note is found by file name, size and header record, in any folder
  --desc TEXT       the new description (&quot;&quot; removes it)
  --user-type TEXT  the new user type (&quot;&quot; removes it)
  The notes are kept in $XDG_DATA_HOME/sdvoice/archive.db (default ~/.local/share/sdvoice/), or on the
  PostgreSQL server named in $XDG_CONFIG_HOME/sdvoice/sdvoice.conf.
</source>
        <translation>  PATH              一条录音；按文件名、大小和文件头记录查找它的录音说明，与所在文件夹无关
  --desc TEXT       新的说明（&quot;&quot; 表示删除）
  --user-type TEXT  新的用户类型（&quot;&quot; 表示删除）
  录音说明保存在 $XDG_DATA_HOME/sdvoice/archive.db（默认 ~/.local/share/sdvoice/），
  或保存在 $XDG_CONFIG_HOME/sdvoice/sdvoice.conf 指定的 PostgreSQL 服务器上。
</translation>
    </message>
    <message>
        <source>writes every note into FILE, or stores every note of FILE, one JSON object a line</source>
        <translation>把所有录音说明写入 FILE，或保存 FILE 中的所有录音说明，每行一个 JSON 对象</translation>
    </message>
    <message>
        <source>  export FILE  replaces FILE with all notes: name, size, record (hex), description, user_type
  import FILE  stores the notes of FILE, replacing those of the same recordings; a file with a line
               that is not a note imports nothing
</source>
        <translation>  export FILE  用所有录音说明替换 FILE：name、size、record（十六进制）、description、user_type
  import FILE  保存 FILE 中的录音说明，替换同一录音已有的说明；只要文件中有一行
               不是录音说明，就什么也不导入
</translation>
    </message>
    <message>
        <source>copies every recording of CARD_FOLDER into ARCHIVE_FOLDER as the main window&apos;s &quot;全部上传&quot; does, asking nothing</source>
        <translation>像主窗口的“全部上传”一样，把 CARD_FOLDER 中的所有录音复制到 ARCHIVE_FOLDER，不询问任何问题</translation>
    </message>
    <message>
        <source>  CARD_FOLDER       a folder of recordings, such as the VOICE folder of the recorder&apos;s card
  ARCHIVE_FOLDER    the upload folder; made when missing
  --skip-identical  leave an archived file with the same size, header record and modification time
                    without asking; one with the card&apos;s bytes is never replaced
  --month-folders   put each recording into the folder of its start month (&quot;2023年01月&quot;)
  --replace         replace an archived file that differs; the archived one first goes into
                    ARCHIVE_FOLDER/.replaced/ (see &apos;voctool replaced&apos;). Without it such a file stays
                    as it is, is named at the end, and the exit status is 1.
  One line per file (copied, replaced, identical, left), then a summary. Kept replaced files older
  than keep_replaced_days of $XDG_CONFIG_HOME/sdvoice/sdvoice.conf [upload] (default 30) are removed.
</source>
        <translation>  CARD_FOLDER       存放录音的文件夹，例如录音卡上的 VOICE 文件夹
  ARCHIVE_FOLDER    上传文件夹；不存在时新建
  --skip-identical  上传文件夹中已有大小、文件头记录和修改时间都相同的文件时，不询问，直接跳过；
                    与录音卡上内容完全相同的文件从不被替换
  --month-folders   把每条录音放进它开始月份的文件夹（“2023年01月”）
  --replace         替换上传文件夹中内容不同的同名文件；原文件先移到
                    ARCHIVE_FOLDER/.replaced/（见“voctool replaced”）。不带此选项时这样的文件
                    保持不变，在最后列出，退出状态为 1。
  每个文件一行（已复制、已替换、相同、未上传），最后是汇总。保留时间超过
  $XDG_CONFIG_HOME/sdvoice/sdvoice.conf 中 [upload] 的 keep_replaced_days（默认 30 天）的
  被替换的录音会被删除。
</translation>
    </message>
    <message>
        <source>lists the archived recordings that uploads into DIR replaced, or puts one back</source>
        <translation>列出上传到 DIR 时被替换的录音，或恢复其中一条</translation>
    </message>
    <message>
        <source>converts a recording into a wave, FLAC, MP3 or Opus file</source>
        <translation>把录音转换为 WAV、FLAC、MP3 或 Opus 文件</translation>
    </message>
    <message>
        <source>  INPUT           a recording (IMA ADPCM)
  OUTPUT          the file to write, replaced when it exists; its extension chooses the format:
                  .wav a 16-bit PCM wave file, mono, 8000 samples a second; .flac; .mp3;
                  .opus or .ogg (Ogg Opus); any other extension is refused
  --title TEXT    the title tag (default: the phone number and the start time)
  --comment TEXT  the comment tag (default: none)
  FLAC, MP3 and Opus files, and a wave file given a --title or a --comment, carry the recording&apos;s
  details as tags: title, comment, genre and album (the mode), date (the start day).
</source>
        <translation>  INPUT           一条录音（IMA ADPCM）
  OUTPUT          要写入的文件，已存在时被替换；扩展名决定格式：
                  .wav 为 16 位 PCM 单声道 WAV 文件，每秒 8000 个采样；.flac；.mp3；
                  .opus 或 .ogg（Ogg Opus）；其他扩展名都不接受
  --title TEXT    标题标签（默认：电话号码和开始时间）
  --comment TEXT  注释标签（默认：无）
  FLAC、MP3 和 Opus 文件，以及给了 --title 或 --comment 的 WAV 文件，都把录音的
  信息写成标签：标题、注释、流派和专辑（录音方式）、日期（开始的那一天）。
</translation>
    </message>
    <message>
        <source>converts a recording and plays it to the sound output, from PERCENT (0 to 100) of it; Ctrl-C or SIGTERM stops it</source>
        <translation>转换录音并从它的 PERCENT（0 到 100）处开始播放到声音输出；按 Ctrl-C 或发送 SIGTERM 停止</translation>
    </message>
    <message>
        <source>  FILE            the recording to play
  --from PERCENT  start at PERCENT of the recording, 0 to 100 (default 0)
  The progress in percent is printed a line at a time. The recording is converted in memory
  first; SDL_AUDIODRIVER chooses the sound output (dummy plays without a sound card).
  Ctrl-C ends it with status 130, SIGTERM with 143.
</source>
        <translation>  FILE            要播放的录音
  --from PERCENT  从录音的 PERCENT 处开始，0 到 100（默认 0）
  播放进度以百分比逐行打印。录音先在内存中转换；
  SDL_AUDIODRIVER 选择声音输出（dummy 表示没有声卡也能播放）。
  Ctrl-C 使它以状态 130 结束，SIGTERM 以 143 结束。
</translation>
    </message>
    <message>
        <source>exit status:
  0    done
  1    failed; the message on standard error says why
  2    wrong usage
  130  play stopped by Ctrl-C
</source>
        <translation>退出状态：
  0    完成
  1    失败；标准错误输出上的消息说明原因
  2    用法错误
  130  播放被 Ctrl-C 停止
</translation>
    </message>
    <message>
        <source>usage: voctool COMMAND ...
</source>
        <translation>用法：voctool 命令 ...
</translation>
    </message>
    <message>
        <source>  voctool --version
      prints the version
&apos;voctool COMMAND --help&apos; describes one command and its options.
</source>
        <translation>  voctool --version
      显示版本
“voctool 命令 --help”说明一个命令及其选项。
</translation>
    </message>
    <message>
        <source>usage: voctool %1</source>
        <translation>用法：voctool %1</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>没有这个命令：“%1”</translation>
    </message>
    <message>
        <source>cannot play &apos;%1&apos;: %2</source>
        <translation>无法播放“%1”：%2</translation>
    </message>
    <message>
        <source>cannot tell the format of &apos;%1&apos;: OUTPUT must end in .wav, .flac, .mp3, .opus or .ogg (Opus in Ogg)</source>
        <translation>无法判断“%1”的格式：OUTPUT 必须以 .wav、.flac、.mp3、.opus 或 .ogg（Ogg 中的 Opus）结尾</translation>
    </message>
    <message>
        <source>cannot convert &apos;%1&apos;: %2</source>
        <translation>无法转换“%1”：%2</translation>
    </message>
    <message>
        <source>play FILE [--from PERCENT]   (PERCENT 0 to 100)</source>
        <translation>play FILE [--from PERCENT]   （PERCENT 为 0 到 100）</translation>
    </message>
    <message>
        <source>no such folder: %1</source>
        <translation>文件夹不存在：%1</translation>
    </message>
    <message>
        <source>not a folder: %1</source>
        <translation>不是文件夹：%1</translation>
    </message>
    <message>
        <source>cannot read the folder %1</source>
        <translation>无法读取文件夹 %1</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 需要一个值</translation>
    </message>
    <message>
        <source>%1 is given twice</source>
        <translation>%1 给了两次</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>未知选项 %1</translation>
    </message>
    <message>
        <source>only one folder can be searched</source>
        <translation>只能查询一个文件夹</translation>
    </message>
    <message>
        <source>give either the folder DIR or --all</source>
        <translation>请给出文件夹 DIR 或 --all，不能两者都给</translation>
    </message>
    <message>
        <source>the folder DIR is missing</source>
        <translation>缺少文件夹 DIR</translation>
    </message>
    <message>
        <source>%1 is missing</source>
        <translation>缺少 %1</translation>
    </message>
    <message>
        <source>%1 must be a day written YYYY-MM-DD, not &apos;%2&apos;</source>
        <translation>%1 必须是 YYYY-MM-DD 格式的日期，而不是“%2”</translation>
    </message>
    <message>
        <source>--mode must be one of %1, not &apos;%2&apos;</source>
        <translation>--mode 必须是 %1 之一，而不是“%2”</translation>
    </message>
    <message>
        <source>cannot write the rows to standard output</source>
        <translation>无法把结果写到标准输出</translation>
    </message>
    <message>
        <source>unknown option %1 (the search options follow --search)</source>
        <translation>未知选项 %1（查询选项要写在 --search 后面）</translation>
    </message>
    <message>
        <source>only one folder can be exported</source>
        <translation>只能导出一个文件夹</translation>
    </message>
    <message>
        <source>there are no recordings to export; %1 is not written</source>
        <translation>没有可导出的录音；%1 没有写入</translation>
    </message>
    <message>
        <source>%1 is open in a spreadsheet program or cannot be replaced; close it first</source>
        <translation>%1 已在电子表格程序中打开，或无法替换；请先关闭它</translation>
    </message>
    <message>
        <source>%1 is a symbolic link, which is not followed; nothing is written</source>
        <translation>%1 是符号链接，不会跟随；什么也没有写入</translation>
    </message>
    <message>
        <source>DIR and OUT.xlsx are needed</source>
        <translation>需要 DIR 和 OUT.xlsx</translation>
    </message>
    <message>
        <source>cannot read the notes: %1</source>
        <translation>无法读取录音说明：%1</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>%1 notes written to %2</source>
        <translation>已把 %1 条录音说明写入 %2</translation>
    </message>
    <message>
        <source>%1; nothing was imported</source>
        <translation>%1；什么也没有导入</translation>
    </message>
    <message>
        <source>cannot store the notes: %1</source>
        <translation>无法保存录音说明：%1</translation>
    </message>
    <message>
        <source>%1 notes imported from %2</source>
        <translation>已从 %2 导入 %1 条录音说明</translation>
    </message>
    <message>
        <source>the recording PATH is missing</source>
        <translation>缺少录音 PATH</translation>
    </message>
    <message>
        <source>unknown word %1</source>
        <translation>未知参数 %1</translation>
    </message>
    <message>
        <source>cannot read the recording %1</source>
        <translation>无法读取录音 %1</translation>
    </message>
    <message>
        <source>the note was not saved: %1</source>
        <translation>录音说明没有保存：%1</translation>
    </message>
    <message>
        <source>COUNT must be a whole number, not &apos;%1&apos;</source>
        <translation>COUNT 必须是整数，而不是“%1”</translation>
    </message>
    <message>
        <source>COUNT is at most 99999 (file names have five digits)</source>
        <translation>COUNT 最多为 99999（文件名只有五位数字）</translation>
    </message>
    <message>
        <source>cannot write the recordings into &apos;%1&apos;</source>
        <translation>无法把录音写入“%1”</translation>
    </message>
    <message>
        <source>wrote %1 recordings into %2</source>
        <translation>已把 %1 条录音写入 %2</translation>
    </message>
    <message>
        <source>--by must be day, week or month, not &apos;%1&apos;</source>
        <translation>--by 必须是 day、week 或 month，而不是“%1”</translation>
    </message>
    <message>
        <source>give one folder DIR or --all</source>
        <translation>请给出一个文件夹 DIR 或 --all</translation>
    </message>
    <message>
        <source>copied %1</source>
        <translation>已复制 %1</translation>
    </message>
    <message>
        <source>replaced %1 (the archived one kept as %2/%3)</source>
        <translation>已替换 %1（原来的文件保留为 %2/%3）</translation>
    </message>
    <message>
        <source>identical %1 (skipped)</source>
        <translation>相同 %1（已跳过）</translation>
    </message>
    <message>
        <source>left %1 (the archived file differs)</source>
        <translation>未上传 %1（上传文件夹中已有内容不同的同名文件）</translation>
    </message>
    <message>
        <source>copied %1, identical %2, replaced %3, left %4 of %5 recordings</source>
        <translation>已复制 %1 条，相同 %2 条，已替换 %3 条，未上传 %4 条，共 %5 条录音</translation>
    </message>
    <message>
        <source>left as it was (differs; --replace replaces it): %1</source>
        <translation>未上传，上传文件夹中的同名文件保持不变（内容不同；加 --replace 可替换）：%1</translation>
    </message>
    <message>
        <source>restored %1</source>
        <translation>已恢复 %1</translation>
    </message>
    <message>
        <source>restored %1 as %2</source>
        <translation>已恢复 %1，名称为 %2</translation>
    </message>
    <message>
        <source>  DIR                the archive folder
  --all              instead of DIR: every folder the archive index knows, in path order
  --recursive        the subfolders of DIR too, at any depth (hidden ones such as .replaced never),
                     each folder after the one above it, subfolders in name order
  --from YYYY-MM-DD  the first day (required)
  --to YYYY-MM-DD    the last day, included (required); it may not lie before the first
  --mode NAME        only this recording mode: 所有类型 (every mode, the default), 留言, 被叫, 主叫, 现场, 其他
  --phone TEXT       only phone numbers that contain TEXT
  --desc TEXT        only recordings whose note&apos;s description contains TEXT (Latin letters in any case)
  --user-type TEXT   only recordings whose note has exactly this user type
  The rows have the same eight texts as those of &apos;voctool list&apos;; the full path tells the folder.
</source>
        <translation>  DIR                上传文件夹
  --all              代替 DIR：归档索引记录的所有文件夹，按路径排序
  --recursive        连同 DIR 的各级子文件夹（不含 .replaced 这样的隐藏文件夹），
                     每个文件夹排在它的上级之后，子文件夹按名称排序
  --from YYYY-MM-DD  第一天（必填）
  --to YYYY-MM-DD    最后一天，包含当天（必填）；不能早于第一天
  --mode NAME        只查这种录音方式：所有类型（全部方式，默认）、留言、被叫、主叫、现场、其他
  --phone TEXT       只查电话号码中含有 TEXT 的录音
  --desc TEXT        只查录音说明中含有 TEXT 的录音（拉丁字母不分大小写）
  --user-type TEXT   只查录音说明中用户类型正好是 TEXT 的录音
  各行的八项与“voctool list”相同；完整路径说明录音在哪个文件夹。
</translation>
    </message>
    <message>
        <source>  DIR       without --search a card folder, exported as the main window&apos;s list (sorted by file name,
            the full path left out of the item rows); with --search an archive folder, exported as
            the search window&apos;s results (every column)
  --search  search DIR with the options of &apos;voctool search&apos; (--from and --to are required); with
            --recursive the sheet has the search window&apos;s column 文件夹 after the eight
  OUT.xlsx  the workbook to write; an existing one is replaced only by a complete new one, never
            while a spreadsheet program holds it open, never through a symbolic link
</source>
        <translation>  DIR       不带 --search 时是录音卡文件夹，按主窗口的列表导出（按文件名排序，
            各行不含完整路径）；带 --search 时是上传文件夹，按“语音查询”窗口的
            查询结果导出（所有列）
  --search  用“voctool search”的选项查询 DIR（必须给出 --from 和 --to）；带
            --recursive 时，表格在八列之后还有查询窗口的“文件夹”列
  OUT.xlsx  要写入的工作簿；已有的文件只会被完整的新文件替换，电子表格程序
            打开着它时不替换，也不通过符号链接写入
</translation>
    </message>
    <message>
        <source>--recursive goes with a folder DIR, not with --all</source>
        <translation>--recursive 只能和文件夹 DIR 一起用，不能和 --all 一起用</translation>
    </message>
    <message>
        <source>into %1</source>
        <translation>保存在 %1</translation>
    </message>
    <message>
        <source>  DIR                the archive folder
  --all              instead of DIR: every folder the archive index knows
  --recursive        the subfolders of DIR too, as &apos;voctool search --recursive&apos; reads them
  --from YYYY-MM-DD  only the recordings of these days, as &apos;voctool search&apos; finds them (with --to)
  --to YYYY-MM-DD    the last day, included
  --mode, --phone, --desc, --user-type  with --from and --to: only the recordings that &apos;voctool search&apos;
                     finds with them
  --by PERIOD        day, week or month; by default chosen from the span of the calls
  --png OUT.png      also write the charts as a PNG picture
  --width PIXELS     the picture&apos;s width, 300 to 1600 (default 1600, 600 high); narrower than 1000 the
                     charts lie one above the other
  Every option&apos;s value may be joined to it, --phone=TEXT, as one that begins with -- must be; after --
  every word is DIR.
  Each line: part (合计, 按日/按周/按月, 通话次数前十, 通话时长前十), name, calls, talk time, average,
  the calls of 留言, 被叫, 主叫, 现场 and 其他, first call, last call, user type. Rows without a number
  count under （无号码）, rows without a valid start time under the period （时间无效）.
</source>
        <translation>  DIR                上传文件夹
  --all              代替 DIR：归档索引记录的所有文件夹
  --recursive        连同 DIR 的子文件夹，与“voctool search --recursive”读取的相同
  --from YYYY-MM-DD  只统计这些日期的录音，与“voctool search”查到的相同（和 --to 一起用）
  --to YYYY-MM-DD    最后一天，包含当天
  --mode, --phone, --desc, --user-type  和 --from、--to 一起用：只统计“voctool search”
                     用这些条件查到的录音
  --by PERIOD        day（按日）、week（按周）或 month（按月）；默认按通话的时间跨度选择
  --png OUT.png      同时把图表保存为 PNG 图片
  --width PIXELS     图片的宽度，300 到 1600 像素（默认 1600，高 600）；窄于 1000 时两张图表
                     上下排列
  每个选项的值都可以用等号连在选项后面，如 --phone=TEXT；以 -- 开头的值必须这样写。-- 之后的
  每个词都是 DIR。
  每行依次是：部分（合计、按日/按周/按月、通话次数前十、通话时长前十）、名称、通话次数、
  通话时长、平均时长、留言、被叫、主叫、现场和其他的次数、第一次通话、最后一次通话、用户类型。
  没有电话号码的录音计入（无号码），没有有效开始时间的录音计入时段（时间无效）。
</translation>
    </message>
    <message>
        <source>%1 needs a value, not the option %2 (a value that begins with -- is written %1=VALUE)</source>
        <translation>%1 需要一个值，而不是选项 %2（以 -- 开头的值要写成 %1=VALUE）</translation>
    </message>
    <message>
        <source>--width must be a number of pixels from %1 to %2, not &apos;%3&apos;</source>
        <translation>--width 必须是 %1 到 %2 之间的像素数，而不是“%3”</translation>
    </message>
    <message>
        <source>the search options go with --from and --to</source>
        <translation>查询选项要和 --from、--to 一起用</translation>
    </message>
    <message>
        <source>writes a signed evidence package of the recording FILE: the recording byte for byte, a decoded wave file, a manifest of their SHA-256 fingerprints, the desk key&apos;s signature and how to check them</source>
        <translation>为录音 FILE 写一个签名的证据包：逐字节未改的录音、解码后的 WAV 文件、列出它们 SHA-256 指纹的清单、本机密钥的签名和核验方法</translation>
    </message>
    <message>
        <source>  FILE     the recording
  OUT.zip  the package to write; an existing one is replaced only by a complete new one
  The manifest holds the header&apos;s fields, the note when the archive index has one and, when the web
  access log exists, the hash of the export&apos;s own entry in it. The desk&apos;s signing key is made at the
  first export: $XDG_DATA_HOME/sdvoice/evidence-key (default ~/.local/share/sdvoice/; keep a backup of
  it, it is private), its public half evidence-key.pem beside it.
</source>
        <translation>  FILE     录音
  OUT.zip  要写入的证据包；已有的文件只会被完整的新文件替换
  清单中有录音头信息、归档索引中的录音说明（有的话），以及网页访问日志存在时本次导出
  在日志中那一条的哈希值。本机的签名密钥在第一次导出时生成：$XDG_DATA_HOME/sdvoice/evidence-key
  （默认 ~/.local/share/sdvoice/；它是私密的，请备份），公钥 evidence-key.pem 在它旁边。
</translation>
    </message>
    <message>
        <source>checks every part of an evidence package against its fingerprints and the signature, and names each part that fails</source>
        <translation>按指纹和签名核验证据包的每一部分，并指出不符的部分</translation>
    </message>
    <message>
        <source>  FILE.zip  a package that &apos;voctool evidence&apos; wrote
  --key     the public key of the desk that exported it (its evidence-key.pem); by default this desk&apos;s
            own key when it has one, else the package&apos;s own key, whose fingerprint must then be
            compared by hand with the one the exporting desk shows
  One line per part with its state, then the key the signature was checked with. Exit status 0 when
  every part is whole, 1 when any was changed, is missing or was added, or the signature fails.
</source>
        <translation>  FILE.zip  “voctool evidence”写出的证据包
  --key     导出它的电脑的公钥（该电脑的 evidence-key.pem）；默认用本机自己的公钥（本机有的话），
            否则用证据包自带的公钥，这时须把它的指纹与导出电脑显示的指纹
            逐一核对
  每一部分一行，显示它的状态，最后是核验签名所用的公钥。每一部分都完好时退出状态为 0；
  有部分被修改、缺失或多出，或签名不符时为 1。
</translation>
    </message>
    <message>
        <source>checks the recordings of the archive folder DIR against the SHA-256 fingerprints its SHA256SUMS file holds</source>
        <translation>按上传文件夹 DIR 中 SHA256SUMS 文件记录的 SHA-256 指纹核验其中的录音</translation>
    </message>
    <message>
        <source>  DIR          the archive folder
  --recursive  its subfolders too, as &apos;voctool search --recursive&apos; reads them
  One line per recording: its path below DIR and whole, changed, missing (recorded but gone), cannot be
  read, or no fingerprint recorded (not in its folder&apos;s SHA256SUMS); then the counts. Exit status 1
  when any recording was changed, is missing or cannot be read. The same files can be checked without
  this program: sha256sum -c SHA256SUMS in each folder.
</source>
        <translation>  DIR          上传文件夹
  --recursive  连同它的子文件夹，与“voctool search --recursive”读取的相同
  每条录音一行：它在 DIR 下的路径和状态：完好、已被修改、缺失（有记录但文件已不在）、无法读取，
  或无校验记录（不在所在文件夹的 SHA256SUMS 中）；最后是各项的数目。有录音被修改、缺失或
  无法读取时退出状态为 1。不用本程序也可以核验这些文件：在每个文件夹中运行
  sha256sum -c SHA256SUMS。
</translation>
    </message>
    <message>
        <source>whole</source>
        <translation>完好</translation>
    </message>
    <message>
        <source>changed</source>
        <translation>已被修改</translation>
    </message>
    <message>
        <source>missing</source>
        <translation>缺失</translation>
    </message>
    <message>
        <source>no fingerprint recorded</source>
        <translation>无校验记录</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>无法读取</translation>
    </message>
    <message>
        <source>not part of the package</source>
        <translation>多出（不属于证据包）</translation>
    </message>
    <message>
        <source>not the key&apos;s signature of SHA256SUMS</source>
        <translation>签名不符（不是该密钥对 SHA256SUMS 的签名）</translation>
    </message>
    <message>
        <source>another key than the one trusted</source>
        <translation>不是受信任的公钥</translation>
    </message>
    <message>
        <source>%1 is no public key in PEM form</source>
        <translation>%1 不是 PEM 格式的公钥</translation>
    </message>
    <message>
        <source>the evidence package was not written: %1</source>
        <translation>证据包没有写入：%1</translation>
    </message>
    <message>
        <source>%1 written; the recording&apos;s SHA-256: %2</source>
        <translation>已写入 %1；录音的 SHA-256：%2</translation>
    </message>
    <message>
        <source>signed with the desk&apos;s key %1</source>
        <translation>已用本机密钥签名，公钥指纹 %1</translation>
    </message>
    <message>
        <source>the export&apos;s entry in the access log: %1</source>
        <translation>本次导出在访问日志中的记录：%1</translation>
    </message>
    <message>
        <source>checked with the package&apos;s own key %1: compare it with the key the exporting desk shows</source>
        <translation>用证据包自带的公钥 %1 核验：请与导出电脑显示的公钥指纹核对</translation>
    </message>
    <message>
        <source>checked with the key %1</source>
        <translation>用公钥 %1 核验</translation>
    </message>
    <message>
        <source>the package is whole</source>
        <translation>证据包完好</translation>
    </message>
    <message>
        <source>the package was changed</source>
        <translation>证据包已被改动</translation>
    </message>
    <message>
        <source>cannot open the folder %1</source>
        <translation>无法打开文件夹 %1</translation>
    </message>
    <message>
        <source>%1 whole, %2 changed, %3 missing, %4 unreadable, %5 without a recorded fingerprint</source>
        <translation>完好 %1 条，已被修改 %2 条，缺失 %3 条，无法读取 %4 条，无校验记录 %5 条</translation>
    </message>
    <message>
        <source>left %1 on the card (its copy failed)</source>
        <translation>未上传 %1（复制失败，仍在录音卡上）</translation>
    </message>
    <message>
        <source>left %1 on the card (the upload ended before it)</source>
        <translation>未上传 %1（上传在它之前已结束，仍在录音卡上）</translation>
    </message>
    <message>
        <source>  DIR             an upload folder
  --restore NAME  moves the kept file NAME (the first column of the list, or the second when that
                  path is kept only once) back under its own name; a recording holding the name is
                  kept in DIR/.replaced/ in its turn, so nothing is overwritten
  --as NEWNAME    puts it back into the same folder under the file name NEWNAME instead, a name
                  the lists show: VOC, 5 characters, .WAV (such as VOC00001.WAV)
  Each line holds the kept name and, after a tab, the path it came from, relative to DIR.
</source>
        <translation>  DIR             上传文件夹
  --restore NAME  把保留的文件 NAME（列表的第一列；若该路径只保留了一份，也可以用第二列）
                  以原来的文件名移回原处；原处现有的录音先保留到 DIR/.replaced/ 中，不覆盖任何文件
  --as NEWNAME    改为以文件名 NEWNAME 放回同一文件夹；须是录音列表显示的形式：
                  VOC、5 个字符、.WAV（例如 VOC00001.WAV）
  每行是保留的名称，制表符后是它原来的路径（相对于 DIR）。
</translation>
    </message>
    <message>
        <source>the first day (--from) lies after the last day (--to)</source>
        <translation>查询开始时间大于查询结束时间！（--from 在 --to 之后）</translation>
    </message>
    <message>
        <source>--as takes a file name as the lists show it, VOC and 5 characters then .WAV (such as VOC00001.WAV), not &apos;%1&apos;</source>
        <translation>--as 只接受录音列表显示的文件名（例如 VOC00001.WAV），不接受“%1”</translation>
    </message>
    <message>
        <source>cannot open the upload folder %1: %2</source>
        <translation>无法打开上传文件夹 %1：%2</translation>
    </message>
    <message>
        <source>no replaced recording is kept in %1</source>
        <translation>%1 中没有保留被替换的录音</translation>
    </message>
    <message>
        <source>%1 was kept more than once; name one of:%2</source>
        <translation>%1 保留了不止一份，请指明其中一个：%2</translation>
    </message>
    <message>
        <source>%1 is not among the kept recordings of %2 (restored already?); &apos;voctool replaced %2&apos; lists them</source>
        <translation>%1 不在 %2 保留的被替换的录音中（也许已经恢复过了）；“voctool replaced %2”列出保留的录音</translation>
    </message>
    <message>
        <source>cannot restore %1: %2</source>
        <translation>无法恢复 %1：%2</translation>
    </message>
    <message>
        <source>the recording that held the name is kept as %1/%2</source>
        <translation>原来占用这个文件名的录音已保留为 %1/%2</translation>
    </message>
</context>
</TS>
