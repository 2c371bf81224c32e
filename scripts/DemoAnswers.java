import com.corvane.qel.deployer.modburn.Switch;
import com.corvane.qel.deployer.modburn.SwitchException;

/** Shows the native library answering a Java host: result texts, the log bridge and a failed update. */
public class DemoAnswers {
    public static void main(String[] args) {
        Switch.platform_init();
        Switch.setAppLogger((Switch.AppLogger) line -> System.out.print("  java logger <- " + line));
        for (int code : new int[] {0, -13, -22, -99}) {
            System.out.println("err2String(" + code + ") = " + Switch.err2String(code));
        }
        Switch sw = new Switch(0, "127.0.0.1", "admin", "secret", 1);
        try {
            sw.update("ftp://user:pw@127.0.0.1/fw/image.bin", true, 0);
            System.out.println("update succeeded");
        } catch (SwitchException e) {
            System.out.println("update threw SwitchException(" + e.getCode() + ", \"" + e.getMessage() + "\")");
        }
    }
}
